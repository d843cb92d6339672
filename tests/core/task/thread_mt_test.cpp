#include "core/task/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "core/task/task_thread.h"
#include "v4ada/threads/linux/counting_signal.h"
#include "v4ada/threads/linux/threads.h"
#include "v4ada/time/clock_source.h"

namespace {


// A thread whose hooks and steps are counted; onStart can be held at a
// gate so that the test acts before the first step.
class ProbeThread : public Thread {
public:
    ~ProbeThread() override { finishBody(); }

    std::atomic<int> starts{0};
    std::atomic<int> runs{0};
    std::atomic<int> exits{0};
    std::atomic<bool> stopItself{false};
    std::atomic<bool> holdStart{false};
    std::atomic<pthread_t> firstBody{0};
    std::atomic<int> otherBodies{0};
    CountingSignal startGate;
    CountingSignal ran;     // signalled after each step
    CountingSignal exited;  // signalled by onExit

protected:
    void onStart() override {
        starts++;
        if (holdStart) startGate.wait(0);
    }
    void run() override {
        pthread_t self = thread_self();
        pthread_t expected = 0;
        if (!firstBody.compare_exchange_strong(expected, self) && !pthread_equal(expected, self)) otherBodies++;
        runs++;
        if (stopItself) requestStop();
        ran.signal();
        sleep_ms(1);
    }
    void onExit() override {
        exited.signal();
        if (holdExit) exitGate.wait(0);
        exits++;
    }

public:
    std::atomic<bool> holdExit{false};
    CountingSignal exitGate;
};

TEST(ThreadStopProtocol, StopAndWaitOnAStoppedThreadReturnsAtOnce) {
    ProbeThread thread;
    thread.stopAndWait();
    thread.join();
    EXPECT_EQ(thread.currentState(), Thread::kStopped);
    EXPECT_EQ(thread.runs.load(), 0);
    EXPECT_EQ(thread.setPriority(3), 0);
}

TEST(ThreadStopProtocol, StopAndWaitEndsTheBodyWithoutOnExit) {
    ProbeThread thread;
    thread.start();
    ASSERT_TRUE(thread.ran.wait(5000));
    thread.stopAndWait();
    EXPECT_EQ(thread.currentState(), Thread::kStopped);
    int runs = thread.runs.load();
    sleep_ms(5);
    EXPECT_EQ(thread.runs.load(), runs);  // no step after the return
    EXPECT_EQ(thread.starts.load(), 1);
    EXPECT_EQ(thread.exits.load(), 0);

    // A stopped thread can be started again: a new body with onStart.
    thread.start();
    ASSERT_TRUE(thread.ran.wait(5000));
    thread.join();
    EXPECT_EQ(thread.starts.load(), 2);
    EXPECT_EQ(thread.exits.load(), 0);
}

TEST(ThreadStopProtocol, StopRequestedBeforeTheFirstStepStillRunsOneStepThenOnExit) {
    ProbeThread thread;
    thread.holdStart = true;
    thread.start();
    thread.requestStop();
    thread.startGate.signal();
    ASSERT_TRUE(thread.exited.wait(5000));
    EXPECT_EQ(thread.runs.load(), 1);
    // onExit signals before it counts: read the count once it returned.
    thread.stopAndWait();
    EXPECT_EQ(thread.exits.load(), 1);
}

TEST(ThreadStopProtocol, BodyThatStopsItselfCallsOnExit) {
    ProbeThread thread;
    thread.stopItself = true;
    thread.start();
    ASSERT_TRUE(thread.exited.wait(5000));
    EXPECT_EQ(thread.runs.load(), 1);
    while (thread.currentState() != Thread::kStopped) sleep_ms(1);
    thread.stopAndWait();  // stopped: returns at once
    EXPECT_EQ(thread.exits.load(), 1);
}

TEST(ThreadStopProtocol, OwnerWaitsForTheOnExitOfABodyThatStoppedItself) {
    // The owner may destroy the object once stopAndWait returns, so the
    // body must be done with it, onExit included.
    auto thread = std::make_unique<ProbeThread>();
    thread->stopItself = true;
    thread->holdExit = true;
    thread->start();
    ASSERT_TRUE(thread->exited.wait(5000));  // in onExit, held at the gate
    EXPECT_EQ(thread->currentState(), Thread::kStopped);
    CountingSignal calling;
    std::atomic<int> exitsSeen{-1};
    std::thread owner([&] {
        calling.signal();
        thread->stopAndWait();
        exitsSeen = thread->exits.load();
        thread.reset();
    });
    ASSERT_TRUE(calling.wait(5000));
    thread->exitGate.signal();
    owner.join();
    EXPECT_EQ(exitsSeen.load(), 1);
}

TEST(ThreadStopProtocol, StartAfterAStopRequestKeepsTheSameBody) {
    ProbeThread thread;
    thread.holdStart = true;
    thread.start();
    thread.requestStop();
    thread.start();  // withdraws the request; no second body
    thread.start();  // running: nothing
    thread.startGate.signal();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(thread.ran.wait(5000));
    EXPECT_EQ(thread.currentState(), Thread::kRunning);
    thread.stopAndWait();
    EXPECT_EQ(thread.starts.load(), 1);
    EXPECT_EQ(thread.otherBodies.load(), 0);
    EXPECT_GE(thread.runs.load(), 3);
    EXPECT_EQ(thread.exits.load(), 0);
}

TEST(ThreadStopProtocol, DestroyingARunningThreadWaitsForItsBody) {
    auto* thread = new ProbeThread;
    thread->start();
    ASSERT_TRUE(thread->ran.wait(5000));
    delete thread;  // a body still running would touch freed memory
}

// A task thread that does not pause between steps, so tests run fast.
class QuickTaskThread : public TaskThread {
public:
    ~QuickTaskThread() override { finishBody(); }

protected:
    void pause(int) override { sleep_ms(1); }
};

// Counts ticks and keeps the elapsed value of the first.
class CountingTask : public TimeSliceTask {
public:
    bool tick(int elapsedMs) override {
        if (ticks++ == 0) firstElapsed = elapsedMs;
        ticked.signal();
        return false;
    }
    std::atomic<int> ticks{0};
    std::atomic<int> firstElapsed{-1};
    CountingSignal ticked;
};

TEST(TaskThreadRunning, FirstStepGetsTheTimeSinceStartNotSinceConstruction) {
    ManualClock clock;
    ScopedClockSource scope(&clock);
    QuickTaskThread thread;
    CountingTask task;
    thread.addTask(&task);
    clock.advanceMs(5000);
    thread.start();
    ASSERT_TRUE(task.ticked.wait(5000));
    thread.stopAndWait();
    EXPECT_EQ(task.firstElapsed.load(), 0);
}

TEST(TaskThreadRunning, TasksAddedFromOtherThreadsJoinWhileItRuns) {
    QuickTaskThread thread;
    thread.start();
    CountingTask tasks[4];
    for (CountingTask& task : tasks) thread.addTask(&task);
    for (CountingTask& task : tasks) ASSERT_TRUE(task.ticked.wait(5000));

    // A task removed by its own tick on the running thread is not ticked again.
    class Leaver : public TimeSliceTask {
    public:
        explicit Leaver(TaskThread* thread) : thread(thread) {}
        bool tick(int) override {
            ticks++;
            thread->removeTask(this);
            left.signal();
            return true;
        }
        TaskThread* thread;
        std::atomic<int> ticks{0};
        CountingSignal left;
    } leaver(&thread);
    thread.addTask(&leaver);
    ASSERT_TRUE(leaver.left.wait(5000));
    int before = tasks[0].ticks.load();
    while (tasks[0].ticks.load() < before + 3) sleep_ms(1);
    thread.stopAndWait();
    EXPECT_EQ(leaver.ticks.load(), 1);
}

TEST(TaskThreadRunning, ExclusiveWorkNeverRunsBesideATick) {
    // Both sides change plain fields: the thread sanitizer reports any
    // overlap.
    class Writer : public TimeSliceTask {
    public:
        bool tick(int) override {
            shared++;
            ticks++;
            return false;
        }
        int shared = 0;
        std::atomic<int> ticks{0};
    } writer;
    QuickTaskThread thread;
    thread.addTask(&writer);
    thread.start();
    for (int i = 0; i < 200; i++) {
        int seen = writer.ticks.load();
        thread.runExclusive([&] {
            int before = writer.shared;
            for (int k = 0; k < 100; k++) writer.shared++;
            EXPECT_EQ(writer.shared, before + 100);
        });
        while (writer.ticks.load() == seen) sleep_ms(1);
    }
    thread.stopAndWait();
    EXPECT_EQ(writer.shared, 200 * 100 + writer.ticks.load());
}

}  // namespace
