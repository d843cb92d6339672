#include "console/selftest/collect_task.h"

#include "console/selftest/overlay_probe.h"
#include "overlay/gateway/data_collector.h"

CollectTask::CollectTask(DataCollector& collector, OverlayProbe& probe) : collector_(collector), probe_(probe) {
    if (collector_.collecting()) collector_.reset();
}

bool CollectTask::tick(int elapsedMs) {
    elapsed_ += elapsedMs;
    if (elapsed_ <= kReportMs) return false;
    elapsed_ = 0;
    if (collector_.collecting()) {
        collector_.print(probe_.traffic());
        collector_.reset();
    }
    return false;
}
