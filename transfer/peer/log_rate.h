// LogRate: lets log lines through so that what peers ask for cannot fill
// the log. A line is told by its source (who caused it) and its key (what
// it is about): a source has at most a handful of lines in any window of
// time, whatever keys it makes up, and within those at most one line per
// key; all sources together have at most maxLines lines in a window, so
// the log grows by a bounded amount whatever sources come. Each source
// with a line in the last window is remembered with the keys and times of
// those lines, at most maxSources of them; a full table forgets the source
// whose last line is the oldest to take a new one, so that no flood of
// sources keeps the others out of the log while the bound in all is not
// reached.
//
// Each decision is amortised O(1) (a look at the source's few lines): the
// sources are kept in the order of their last lines, so those whose
// window passed leave from the front, and the times of all lines in the
// window are kept in order likewise.
//
// Threads: any; the table is locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "v4ada/threads/linux/sys_mutex.h"

class LogRate {
public:
    // maxSources, perSource and maxLines count at least 1.
    LogRate(int64_t windowMs, size_t maxSources, int perSource, size_t maxLines);
    LogRate(const LogRate&) = delete;
    LogRate& operator=(const LogRate&) = delete;

    // Whether a line of this source and key may be written now (monotonic
    // clock); a true answer counts the line.
    bool allow(const std::string& source, const std::string& key);

private:
    struct Source {
        const std::string* name;  // its key in bySource_
        // Key and time of each line in the window, oldest first; at most
        // perSource_.
        std::vector<std::pair<std::string, int64_t>> lines;
    };
    using Sources = std::list<Source>;

    void forget(Sources::iterator source) TS_REQUIRES(lock_);

    const int64_t windowMs_;
    const size_t maxSources_;
    const size_t perSource_;
    const size_t maxLines_;
    SysMutex lock_;
    // The source whose last line is the oldest first.
    Sources sources_ TS_GUARDED_BY(lock_);
    std::unordered_map<std::string, Sources::iterator> bySource_ TS_GUARDED_BY(lock_);
    // The time of every line in the window, whatever its source; oldest
    // first.
    std::deque<int64_t> lineTimes_ TS_GUARDED_BY(lock_);
};
