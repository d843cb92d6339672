// ServiceCleaner: removes the directory's entries older than 6 hours,
// every 20 minutes of task time.
#pragma once

#include <cstdint>

#include "core/task/time_slice_task.h"

class FlockGateway;

constexpr int kServiceCleanEveryMs = 1200000;

class ServiceCleaner : public TimeSliceTask {
public:
    explicit ServiceCleaner(FlockGateway& gateway) : gateway_(gateway) {}
    bool tick(int elapsedMs) override;

private:
    FlockGateway& gateway_;
    int32_t elapsed_ = 0;
};
