#include "transfer/peer/log_rate.h"

#include "v4ada/time/clock_source.h"

namespace {
int64_t monotonicMs() {
    ClockReading now = clock_source().monotonic();
    return now.seconds * 1000 + now.microseconds / 1000;
}
}  // namespace

void LogRate::prune(int64_t nowMs) {
    int64_t oldest = nowMs;
    for (auto it = last_.begin(); it != last_.end();) {
        if (nowMs - it->second >= windowMs_) {
            it = last_.erase(it);
        } else {
            if (it->second < oldest) oldest = it->second;
            ++it;
        }
    }
    nextPruneMs_ = oldest + windowMs_;
}

bool LogRate::allow(const std::string& key) {
    int64_t now = monotonicMs();
    SysMutexGuard guard(&lock_);
    auto found = last_.find(key);
    if (found != last_.end()) {
        if (now - found->second < windowMs_) return false;
        found->second = now;
        return true;
    }
    if (last_.size() >= maxKeys_) {
        // A full table of fresh keys is walked again only once its oldest
        // key can have gone stale.
        if (now < nextPruneMs_) return false;
        prune(now);
        if (last_.size() >= maxKeys_) return false;
    }
    last_.emplace(key, now);
    return true;
}
