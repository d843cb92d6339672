#include "v4ada/net/socket_set.h"

#include <poll.h>

#include <cerrno>
#include <cstring>

#include "v4ada/net/ready_flags.h"

short poll_events_from_flags(int flags) {
    short events = 0;
    if (flags & kReadable) events |= POLLIN;
    if (flags & kWritable) events |= POLLOUT;
    return events;
}

int flags_from_poll_events(short revents) {
    int flags = 0;
    if (revents & POLLIN) flags |= kReadable;
    if (revents & POLLOUT) flags |= kWritable;
    if (revents & (POLLERR | POLLNVAL)) flags |= kReadyError;
    return flags;
}

linux_socket_set::~linux_socket_set() { delete[] entries_; }

void linux_socket_set::add(int descriptor, int flags) {
    if (count_ == capacity_) {
        int grown = capacity_ + kGrowStep;
        pollfd* bigger = new pollfd[grown + 1];  // and the wake slot
        if (count_ > 0) std::memcpy(bigger, entries_, sizeof(pollfd) * count_);
        delete[] entries_;
        entries_ = bigger;
        capacity_ = grown;
    }
    entries_[count_].fd = descriptor;
    entries_[count_].events = poll_events_from_flags(flags);
    entries_[count_].revents = 0;
    count_++;
}

void linux_socket_set::remove(int descriptor) {
    for (int i = 0; i < count_; i++) {
        if (entries_[i].fd == descriptor) {
            std::memmove(entries_ + i, entries_ + i + 1, sizeof(pollfd) * (count_ - i - 1));
            count_--;
            return;
        }
    }
}

void linux_socket_set::watch(int descriptor, int flags) {
    for (int i = 0; i < count_; i++) {
        if (entries_[i].fd == descriptor) {
            entries_[i].events = poll_events_from_flags(flags);
            return;
        }
    }
}

void linux_socket_set::setMask(int flags) { mask_ = poll_events_from_flags(flags); }

int linux_socket_set::check(int descriptor, int flags) const {
    for (int i = 0; i < count_; i++) {
        if (entries_[i].fd == descriptor) return flags & flags_from_poll_events(entries_[i].revents);
    }
    return 0;
}

int linux_socket_set::wait(int timeoutMs) {
    int polled = count_;
    pollfd wakeOnly;
    pollfd* entries = entries_;
    if (wake_ >= 0) {
        if (entries_ == nullptr) {
            entries = &wakeOnly;
        }
        entries[count_] = pollfd{wake_, POLLIN, 0};
        polled++;
    }
    const bool masked = mask_ != static_cast<short>(POLLIN | POLLOUT) && mask_ != -1;
    if (masked) {
        asked_.resize(count_);
        for (int i = 0; i < count_; i++) {
            asked_[i] = entries_[i].events;
            entries_[i].events = static_cast<short>(entries_[i].events & mask_);
        }
    }
    int result = poll(entries, static_cast<nfds_t>(polled), timeoutMs);
    if (masked) {
        for (int i = 0; i < count_; i++) entries_[i].events = asked_[i];
    }
    if (result < 0) {
        // Nothing is ready after a failed poll: stale results must not count.
        for (int i = 0; i < count_; i++) entries_[i].revents = 0;
    } else if (wake_ >= 0 && entries[count_].revents != 0) {
        result--;  // the wake-up is no ready entry
    }
    return result;
}
