// ServiceCleaner: removes the directory's entries older than 6 hours,
// every 20 minutes of task time.
#pragma once

#include <cstdint>

#include "core/task/time_slice_task.h"

class ServiceDirectory;

constexpr int kServiceCleanEveryMs = 1200000;

class ServiceCleaner : public TimeSliceTask {
public:
    explicit ServiceCleaner(ServiceDirectory& directory) : directory_(directory) {}
    bool tick(int elapsedMs) override;

private:
    ServiceDirectory& directory_;
    int32_t elapsed_ = 0;
};
