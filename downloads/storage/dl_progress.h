// DLProgress: the range chooser of one download. One entry per crumb
// (486,400 bytes, the last one shorter) counts the known sources that have
// the crumb and holds its free ranges: bytes that are missing and that no
// source is fetching now. Sources take ranges rarest first, so that two
// sources never ask for the same bytes, and give back what they did not
// receive.
//
// The preferred order of the crumbs starts as a random permutation and is
// sorted stably after every weight change: rarer first, complete crumbs
// last, and among equal weights the crumb with fewer free bytes first.
//
// The table reads the download's gaps through a GapView. It has no lock:
// it lives on the task thread, like the sources that use it; results of
// checks made on other threads reach it through the partial file's
// applyResults.
#pragma once

#include <cstdint>
#include <vector>

#include "downloads/storage/gap_list.h"
#include "v4ada/digest/part_hash.h"

class BoolArray;

// What the chooser sees of the partial file: its missing bytes and size.
class GapView {
public:
    virtual ~GapView() = default;
    // Appends the missing ranges inside [a, b), by offset.
    virtual void gapsIn(uint64_t a, uint64_t b, std::vector<Gap>& out) const = 0;
    virtual uint64_t fileSize() const = 0;
};

// A bare gap list with a size, as a GapView.
class GapListView : public GapView {
public:
    GapListView(const GapList& gaps, uint64_t size) : gaps_(gaps), size_(size) {}
    void gapsIn(uint64_t a, uint64_t b, std::vector<Gap>& out) const override { gaps_.intersections(a, b, out); }
    uint64_t fileSize() const override { return size_; }

private:
    const GapList& gaps_;
    uint64_t size_;
};

struct CrumbEntry {
    static constexpr int32_t kComplete = -1;

    // kComplete once verified, else the number of known sources having it.
    int32_t weight = 0;
    // Free ranges, sorted by offset and disjoint, inside the crumb.
    std::vector<Gap> ranges;
    // Sum of the ranges' lengths.
    uint64_t freeBytes = 0;
};

class DLProgress {
public:
    // Half of a full crumb: a wholly missing full crumb is offered as two
    // ranges of this size, so that two sources can share it.
    static constexpr uint64_t kHalfCrumb = 243200;
    // The most a source whose hello did not verify may take at once.
    static constexpr uint64_t kUnverifiedPeerMax = 184320;

    DLProgress() = default;
    virtual ~DLProgress() = default;
    DLProgress(const DLProgress&) = delete;
    DLProgress& operator=(const DLProgress&) = delete;

    // Builds the table from the file's gaps, then shuffles and sorts the
    // order (random_below). A null file empties the table.
    void init(const GapView* file);
    // A source having the crumbs set in map joins (+1) or leaves (-1).
    // Ignored for a null map or one of another bit count.
    void changeWeight(const BoolArray* map, int32_t delta);
    // A source's map changed from oldMap to newMap.
    void changeCrumbs(const BoolArray* oldMap, const BoolArray* newMap, int32_t delta);
    // The crumb is verified: weight kComplete, nothing of it is offered.
    void gotCrumb(uint32_t crumb);
    // The crumb failed its check: weight 0 and its whole range free again.
    void resetCrumb(uint32_t crumb);
    // A source gives back [start, end): the bytes of it that are still
    // missing and not already free become free again, per crumb. A crumb
    // taken as complete that misses bytes again (its data was lost on
    // disk) is offered again with weight 0. Returns the number of ranges
    // added.
    int returnRange(uint64_t start, uint64_t end);
    // The next range for a source whose crumbs are in map, rarest first;
    // max > 0 caps its length. False when there is nothing for it.
    bool pickRange(const BoolArray* map, uint64_t* start, uint64_t* end, uint64_t max);
    // A run of free bytes inside one part, for sources that take any range
    // (HTTP); the run is exactly what is removed from the free ranges.
    bool pickPartRange(uint64_t* start, uint64_t* end);

    // The index is the caller's to keep below crumbCount.
    int32_t weight(uint32_t crumb) const { return crumbs_[crumb].weight; }
    uint32_t crumbCount() const { return static_cast<uint32_t>(crumbs_.size()); }
    bool hasFreeRange() const;
    // Some crumb set in map has a free range.
    bool hasFreeFor(const BoolArray* map) const;
    // Advances whenever ranges become free (given back, reset or found
    // missing again), so that a source that found nothing to take can tell
    // cheaply when to look again.
    uint64_t freedCount() const { return freed_; }
    // No crumb of weight 0: each is complete or held by a known source.
    bool allAvailable() const;
    // "Progress Array:" with "%d) %d%s" per crumb, then "Preferred Array:"
    // with "%d) %d : %d%s" per position; %s is " (%U-%U)" per free range.
    void dump() const;

    const CrumbEntry& entry(uint32_t crumb) const { return crumbs_[crumb]; }
    const std::vector<uint32_t>& order() const { return order_; }

private:
    // Negative: a before b; positive: a after b.
    int compare(uint32_t a, uint32_t b) const;
    void shuffle();
    void sort();
    void clampedAdd(uint32_t crumb, int32_t delta, const char* who, bool* changed);
    // Inserts the parts of [start, end) not already free into crumb's
    // ranges; returns how many ranges were added.
    int addFree(uint32_t crumb, uint64_t start, uint64_t end);
    void takeFront(CrumbEntry& entry, uint64_t length);
    uint64_t crumbStart(uint32_t crumb) const { return static_cast<uint64_t>(crumb) * kCrumbSize; }
    uint64_t crumbEnd(uint32_t crumb) const;

    const GapView* file_ = nullptr;
    uint64_t size_ = 0;
    std::vector<CrumbEntry> crumbs_;
    std::vector<uint32_t> order_;
    uint64_t freed_ = 0;
};
