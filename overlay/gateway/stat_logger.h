// StatLogger: every hour of task-thread time two lines go to log.txt: the
// estimated users and the services this node indexes, then the current
// download and upload rates.
#pragma once

#include <cstdint>

#include "core/task/time_slice_task.h"

class FlockGateway;

constexpr int kStatLogEveryMs = 3600000;

class StatLogger : public TimeSliceTask {
public:
    explicit StatLogger(FlockGateway& gateway) : gateway_(gateway) {}

    bool tick(int elapsedMs) override;

private:
    FlockGateway& gateway_;
    int32_t elapsed_ = 0;
};
