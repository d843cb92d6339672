// DownloadInterface: what a source that is not a peer (one made from a
// link by a protocol, such as HTTP) sees of its download: the file's size
// and name, the range chooser and the way in for received bytes.
//
// None of these take the download's lock: link sources call them from
// their tick, which runs under the lock taken by the download's tick.
// Task thread only.
#pragma once

#include <cstdint>

#include "v4ada/string/owned_string.h"

class BoolArray;

class DownloadInterface {
public:
    // A source link (under the download's lock: not from a source's tick).
    virtual void addSourceLink(const char* link) = 0;
    // The target's file name; a null text without a partial file.
    virtual OwnedString name() = 0;
    // Target size in bytes (below 4 GiB).
    virtual uint64_t size() = 0;
    // ceil(size / 486,400).
    virtual uint32_t crumbCount() = 0;
    // A source having the crumbs set in map joins (+delta) or leaves
    // (-delta). A null map or one of another bit count changes nothing.
    virtual void changeWeight(const BoolArray* map, int32_t delta) = 0;
    virtual void changeCrumbs(const BoolArray* oldMap, const BoolArray* newMap, int32_t delta) = 0;
    // The crumb's missing bytes that are not being fetched become free
    // again; an index at or past crumbCount is ignored.
    virtual void returnCrumb(uint32_t crumb) = 0;
    // A range given back: its missing bytes become free again.
    virtual void returnRange(uint64_t start, uint64_t end) = 0;
    // The next range for a source holding the crumbs of map, rarest
    // first; false (start and end untouched) when there is none.
    virtual bool pickRange(const BoolArray* map, uint64_t* start, uint64_t* end) = 0;
    // A run of free bytes inside one part (sources that take any range).
    virtual bool pickPartRange(uint64_t* start, uint64_t* end) = 0;
    // Received bytes [start, end): exactly end - start bytes at bytes.
    // Bytes already present are not overwritten; the download completes
    // when nothing is missing any more.
    virtual void writeData(const uint8_t* bytes, uint64_t start, uint64_t end) = 0;

protected:
    ~DownloadInterface() = default;
};
