// OverlayTesters: the overlay measurements of the master commands, at most
// one of each kind per process: the publish, closer and router testers,
// and the data collector with its reporting task. Each tester is made on
// first use and joins the task thread; the holder keeps them until the
// program ends.
//
// Start-up makes the program's holder (createInstance, over the overlay
// gateway and the core's task thread); shutdown destroys it once the task
// thread has stopped: the holder takes its tasks off the task thread and
// the collector off the request handler, then deletes them. Tests make
// their own holder over a probe and a task thread of theirs. The commands
// reach the holder on the task thread.
#pragma once

#include <atomic>
#include <memory>

#include "overlay/gateway/data_collector.h"

class CloserTester;
class CollectTask;
class OverlayProbe;
class PublishTester;
class RouterTester;
class TaskThread;

class OverlayTesters {
public:
    // Neither is owned; both must outlive the holder.
    OverlayTesters(OverlayProbe& probe, TaskThread& tasks);
    ~OverlayTesters();
    OverlayTesters(const OverlayTesters&) = delete;
    OverlayTesters& operator=(const OverlayTesters&) = delete;

    // The program's holder, or null.
    static OverlayTesters* instance();
    // Over the installed overlay gateway; keeps an existing holder.
    static void createInstance(TaskThread& tasks);
    static void destroyInstance();

    // The testers made so far (null before their first use).
    PublishTester* publishTester() const { return publish_.get(); }
    CloserTester* closerTester() const { return closer_.get(); }
    RouterTester* routerTester() const { return router_.get(); }
    CollectTask* collectTask() const { return collect_.get(); }
    DataCollector& collector() { return collector_; }

    // First uses: the tester is made (the publish tester started) and
    // joins the task thread.
    PublishTester& makePublishTester();
    CloserTester& makeCloserTester();
    RouterTester& makeRouterTester(const char* text, int port1, int port2);
    // Collecting is set and the request handler counts into the
    // collector; the first time the reporting task is made and joins the
    // task thread (true), later calls change nothing more (false).
    bool collect();

private:
    OverlayProbe& probe_;
    TaskThread& tasks_;
    DataCollector collector_;
    std::unique_ptr<PublishTester> publish_;
    std::unique_ptr<CloserTester> closer_;
    std::unique_ptr<RouterTester> router_;
    std::unique_ptr<CollectTask> collect_;
};
