// GapList: the byte ranges of a download's target file that are still
// missing. A new download starts with one gap over the whole file; data
// received is filled out of the gaps; a crumb or part that fails its check
// goes back in as a gap; the record file stores the gaps for a restart.
//
// Gaps are half-open [start, end), never empty, never overlapping and never
// touching (addGap merges a range with every gap it overlaps or touches).
// They are kept in offset order, so each operation costs O(log g + k) for
// g gaps of which k are touched, and every listing is by offset.
//
// Offsets are 64-bit; the protocol keeps files below 4 GiB, which the
// partial file enforces before a list is built.
//
// Every operation takes the list's own mutex for its whole run; callers
// that need one view across several operations hold their own lock too.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "v4ada/threads/linux/sys_mutex.h"

struct Gap {
    uint64_t start = 0;
    uint64_t end = 0;  // exclusive

    uint64_t length() const { return end > start ? end - start : 0; }
    bool operator==(const Gap& other) const { return start == other.start && end == other.end; }
};

class GapList {
public:
    GapList() = default;
    virtual ~GapList() = default;
    GapList(const GapList&) = delete;
    GapList& operator=(const GapList&) = delete;

    // Marks [a, b) missing, merged with every gap it overlaps or touches.
    // An empty range (a >= b) changes nothing.
    void addGap(uint64_t a, uint64_t b);
    // Adds a gap to a list being built afresh (the whole file of a new
    // download). Gaps stay disjoint whatever is appended: it merges like
    // addGap.
    void appendGap(const Gap& gap);
    // Marks [a, b) present: removes it from every gap (a gap may split).
    void fill(uint64_t a, uint64_t b);
    // True when [a, b) shares a byte with some gap. For a >= b: true when
    // a, or the byte before b, lies in a gap.
    bool overlaps(uint64_t a, uint64_t b) const;
    // Appends the parts of the gaps inside [a, b) to out, by offset, and
    // returns how many were appended (0 for a >= b).
    int intersections(uint64_t a, uint64_t b, std::vector<Gap>& out) const;
    bool isEmpty() const;
    // The gaps by offset.
    std::vector<Gap> gaps() const;
    int gapCount() const;
    // Bytes still missing.
    uint64_t missingBytes() const;
    // Prints "\n#   (start- end)", then "(%d) (%U-%U)" per gap numbered from
    // 1, then "\n", through the current output gateway.
    void dump() const;
    // Removes every gap.
    void clearGaps();

private:
    // Gaps by start offset; the value is the end.
    using Map = std::map<uint64_t, uint64_t>;

    void addLocked(uint64_t a, uint64_t b) TS_REQUIRES(mutex_);
    // The first gap whose end lies after `at` (the one holding it, or the
    // next one).
    Map::const_iterator firstEndingAfter(uint64_t at) const TS_REQUIRES(mutex_);
    bool containsLocked(uint64_t at) const TS_REQUIRES(mutex_);

    mutable SysMutex mutex_;
    Map gaps_ TS_GUARDED_BY(mutex_);
};
