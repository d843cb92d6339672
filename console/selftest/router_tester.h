// RouterTester: the router test. It searches the overlay for one key (the
// MD4 of a text) 180 times, one search every 300,000 ms (15 hours), logs
// every node's end of answer and counts, per search, the ends that came
// from nodes at one of two UDP ports. A period after the last search it
// dumps the counts to log.txt once and falls idle: no search, no log line
// and no count after that. It dumps on request at any time. A task of the
// task thread.
#pragma once

#include <cstdint>

#include "core/task/time_slice_task.h"
#include "overlay/requests/result_callback.h"
#include "v4ada/containers/unique_id.h"

class OverlayProbe;

class RouterTester final : public TimeSliceTask, public ResultCallback {
public:
    static constexpr int kSearches = 180;
    static constexpr int kPeriodMs = 300000;

    // key := MD4 of the text; prints "router test will search for <key>".
    RouterTester(OverlayProbe& probe, const char* text, int port1, int port2);
    RouterTester(const RouterTester&) = delete;
    RouterTester& operator=(const RouterTester&) = delete;

    // Every 300,000 ms the next search starts; the period after the 180th
    // ends the test with its dump.
    bool tick(int elapsedMs) override;
    void gotResult(Service*) override {}
    // Logs the end (key, next, total, the node's address as a number and
    // its port); an end from port1 or port2 counts for the current search.
    void searchEnd(ServiceSearch* search, Node* node, int next, int total) override;
    // "router dump" and ", <count>" for each search so far, to log.txt.
    void dump();

    const UniqueID& key() const { return key_; }
    // The current search (0 to 179), -1 before the first.
    int index() const { return index_; }
    uint16_t count(int i) const { return counts_[i]; }
    bool finished() const { return finished_; }

private:
    OverlayProbe& probe_;
    int32_t elapsed_ = 0;
    UniqueID key_;
    uint16_t counts_[kSearches] = {};
    int index_ = -1;
    int port1_;
    int port2_;
    bool finished_ = false;
};
