// LogRate: lets a log line through at most once per key in a window of
// time, so that what peers ask for cannot fill the log. Keys seen within
// the window are remembered, at most maxKeys of them; while that many are
// fresh, lines of new keys are left out too.
//
// Threads: any; the table is locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "v4ada/threads/linux/sys_mutex.h"

class LogRate {
public:
    LogRate(int64_t windowMs, size_t maxKeys) : windowMs_(windowMs), maxKeys_(maxKeys) {}
    LogRate(const LogRate&) = delete;
    LogRate& operator=(const LogRate&) = delete;

    // Whether a line of this key may be written now (monotonic clock); a
    // true answer starts the key's window.
    bool allow(const std::string& key);

private:
    // Forgets the keys whose window has passed; notes when the oldest kept
    // one's will.
    void prune(int64_t nowMs);

    const int64_t windowMs_;
    const size_t maxKeys_;
    SysMutex lock_;  // last_
    std::unordered_map<std::string, int64_t> last_;  // key -> ms of its last line
    int64_t nextPruneMs_ = INT64_MIN;
};
