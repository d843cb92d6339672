// StatLogger: every hour of task-thread time two lines go to log.txt: the
// estimated users and the services this node indexes, then the current
// download and upload rates.
#pragma once

#include <cstdint>

#include "core/task/time_slice_task.h"

class FlockGateway;
class FlockHost;
class ServiceDirectory;

constexpr int kStatLogEveryMs = 3600000;

class StatLogger : public TimeSliceTask {
public:
    StatLogger(FlockGateway& gateway, FlockHost& host, const ServiceDirectory& directory)
        : gateway_(gateway), host_(host), directory_(directory) {}

    bool tick(int elapsedMs) override;

private:
    FlockGateway& gateway_;
    FlockHost& host_;
    const ServiceDirectory& directory_;
    int32_t elapsed_ = 0;
};
