#include "transfer/peer/log_rate.h"

#include <algorithm>

#include "v4ada/time/clock_source.h"

namespace {
int64_t monotonicMs() {
    ClockReading now = clock_source().monotonic();
    return now.seconds * 1000 + now.microseconds / 1000;
}
}  // namespace

LogRate::LogRate(int64_t windowMs, size_t maxSources, int perSource, size_t maxLines)
    : windowMs_(windowMs),
      maxSources_(std::max<size_t>(maxSources, 1)),
      perSource_(static_cast<size_t>(std::max(perSource, 1))),
      maxLines_(std::max<size_t>(maxLines, 1)) {}

void LogRate::forget(Sources::iterator source) {
    bySource_.erase(bySource_.find(*source->name));
    sources_.erase(source);
}

bool LogRate::allow(const std::string& source, const std::string& key) {
    int64_t now = monotonicMs();
    SysMutexGuard guard(&lock_);
    auto stale = [&](const std::pair<std::string, int64_t>& line) { return now - line.second >= windowMs_; };
    // A source's last line is its newest: one that went stale leaves with
    // all its lines.
    while (!sources_.empty() && stale(sources_.front().lines.back())) forget(sources_.begin());
    while (!lineTimes_.empty() && now - lineTimes_.front() >= windowMs_) lineTimes_.pop_front();
    if (lineTimes_.size() >= maxLines_) return false;
    auto found = bySource_.find(source);
    if (found == bySource_.end()) {
        if (sources_.size() >= maxSources_) forget(sources_.begin());
        found = bySource_.emplace(source, sources_.end()).first;
        found->second = sources_.insert(sources_.end(), Source{&found->first, {}});
    }
    auto& lines = found->second->lines;
    lines.erase(lines.begin(), std::find_if_not(lines.begin(), lines.end(), stale));
    if (lines.size() >= perSource_) return false;
    for (const auto& line : lines)
        if (line.first == key) return false;
    lines.emplace_back(key, now);
    lineTimes_.push_back(now);
    sources_.splice(sources_.end(), sources_, found->second);
    return true;
}
