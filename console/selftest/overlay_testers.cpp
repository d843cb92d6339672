#include "console/selftest/overlay_testers.h"

#include "console/selftest/closer_tester.h"
#include "console/selftest/collect_task.h"
#include "console/selftest/flock_probe.h"
#include "console/selftest/publish_tester.h"
#include "console/selftest/router_tester.h"
#include "core/task/task_thread.h"

namespace {

// The program's holder and the probe it was made over.
struct ProgramTesters {
    FlockProbe probe;
    std::unique_ptr<OverlayTesters> testers;
};

std::atomic<ProgramTesters*> gProgram{nullptr};

}  // namespace

OverlayTesters::OverlayTesters(OverlayProbe& probe, TaskThread& tasks) : probe_(probe), tasks_(tasks) {}

OverlayTesters::~OverlayTesters() {
    TimeSliceTask* made[] = {publish_.get(), closer_.get(), router_.get(), collect_.get()};
    for (TimeSliceTask* task : made) {
        if (task) tasks_.removeTask(task);
    }
    if (collector_.collecting()) probe_.countRequests(nullptr);
}

OverlayTesters* OverlayTesters::instance() {
    ProgramTesters* program = gProgram.load();
    return program ? program->testers.get() : nullptr;
}

void OverlayTesters::createInstance(TaskThread& tasks) {
    if (gProgram.load()) return;
    auto* program = new ProgramTesters();
    program->testers = std::make_unique<OverlayTesters>(program->probe, tasks);
    gProgram.store(program);
}

void OverlayTesters::destroyInstance() { delete gProgram.exchange(nullptr); }

PublishTester& OverlayTesters::makePublishTester() {
    if (!publish_) {
        publish_ = std::make_unique<PublishTester>(probe_);
        publish_->start();
        tasks_.addTask(publish_.get());
    }
    return *publish_;
}

CloserTester& OverlayTesters::makeCloserTester() {
    if (!closer_) {
        closer_ = std::make_unique<CloserTester>(probe_);
        tasks_.addTask(closer_.get());
    }
    return *closer_;
}

RouterTester& OverlayTesters::makeRouterTester(const char* text, int port1, int port2) {
    if (!router_) {
        router_ = std::make_unique<RouterTester>(probe_, text, port1, port2);
        tasks_.addTask(router_.get());
    }
    return *router_;
}

bool OverlayTesters::collect() {
    collector_.startCollecting();
    probe_.countRequests(&collector_);
    if (collect_) return false;
    collect_ = std::make_unique<CollectTask>(collector_, probe_);
    tasks_.addTask(collect_.get());
    return true;
}
