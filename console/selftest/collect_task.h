// CollectTask: every 300,000 ms, while collecting, the data collector's
// counts and the overlay endpoint's traffic go to log.txt and the counts
// start again. A task of the task thread.
#pragma once

#include <cstdint>

#include "core/task/time_slice_task.h"

class DataCollector;
class OverlayProbe;

class CollectTask final : public TimeSliceTask {
public:
    static constexpr int kReportMs = 300000;

    // The counts start now when collecting is set.
    CollectTask(DataCollector& collector, OverlayProbe& probe);
    CollectTask(const CollectTask&) = delete;
    CollectTask& operator=(const CollectTask&) = delete;

    bool tick(int elapsedMs) override;

private:
    DataCollector& collector_;
    OverlayProbe& probe_;
    int32_t elapsed_ = 0;
};
