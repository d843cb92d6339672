#include "core/task/task_thread.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "v4ada/error/error.h"
#include "v4ada/time/clock_source.h"

namespace {

// A task that records the elapsed values it was ticked with and may act
// during its tick.
class RecordingTask : public TimeSliceTask {
public:
    explicit RecordingTask(bool busy = false) : busy(busy) {}
    virtual ~RecordingTask() = default;

    bool tick(int elapsedMs) override {
        ticks.push_back(elapsedMs);
        if (action) action();
        return busy;
    }

    bool busy;
    std::vector<int> ticks;
    std::function<void()> action;
};

// The task thread's steps are driven directly, on a clock that moves only
// when the test says so.
class TaskThreadTest : public ::testing::Test {
protected:
    ManualClock clock;
    ScopedClockSource clockScope{&clock};
    TaskThread thread;
};

TEST_F(TaskThreadTest, TasksJoinAtNextStepOnceAndGetTimeSinceLastStep) {
    RecordingTask a, b;
    EXPECT_FALSE(thread.step().didWork);  // nothing listed yet
    thread.addTask(&a);
    thread.addTask(&b);
    thread.addTask(&a);  // listed once

    clock.advanceMs(30);
    thread.step();
    clock.advanceMs(7);
    thread.step();
    EXPECT_EQ(a.ticks, (std::vector<int>{30, 7}));
    EXPECT_EQ(b.ticks, (std::vector<int>{30, 7}));

    thread.addTask(&a);  // already listed: still ticked once per step
    thread.step();
    EXPECT_EQ(a.ticks.size(), 3u);
}

// Steps come as often as work arrives, far more often than once a
// millisecond: the ticks still add up to the time that passed.
TEST_F(TaskThreadTest, TicksAddUpToTheTimeThatPassedWhateverTheStepLength) {
    const struct {
        std::vector<int64_t> stepsUs;  // repeated
        int count;
    } cases[] = {
        {{300}, 1000},          // 300 ms in steps of 0.3 ms
        {{999}, 1000},
        {{1}, 5000},            // 5 ms in steps of 1 us
        {{100, 2300, 700}, 999},
        {{1500}, 1000},
        {{0, 0, 250}, 600},
    };
    for (const auto& c : cases) {
        TaskThread fresh;
        RecordingTask task;
        fresh.addTask(&task);
        int64_t passedUs = 0;
        for (int i = 0; i < c.count; i++) {
            int64_t us = c.stepsUs[static_cast<size_t>(i) % c.stepsUs.size()];
            clock.advanceUs(us);
            passedUs += us;
            fresh.step();
        }
        int64_t ticked = 0;
        for (int ms : task.ticks) {
            EXPECT_GE(ms, 0);
            ticked += ms;
        }
        // Whole milliseconds only; the fraction still owed is below one.
        EXPECT_EQ(ticked, passedUs / 1000) << c.stepsUs.size() << " x " << c.stepsUs[0] << " us";
    }
}

// A clock reading that moves only its wall side, as when the system time
// is set, or only its monotonic side.
class SplitClock : public ClockSource {
public:
    ClockReading monotonic() override { return split(monotonicUs); }
    ClockReading wall() override { return split(wallUs); }
    int64_t monotonicUs = 1000000000;
    int64_t wallUs = 1700000000000000;

private:
    static ClockReading split(int64_t us) { return ClockReading{us / 1000000, static_cast<int32_t>(us % 1000000)}; }
};

TEST(TaskThreadClockTest, TicksFollowTheMonotonicClockAlone) {
    SplitClock clock;
    ScopedClockSource scope(&clock);
    TaskThread thread;
    RecordingTask task;
    thread.addTask(&task);
    clock.wallUs += 3600LL * 1000000;  // set forward an hour
    clock.monotonicUs += 10000;
    thread.step();
    clock.wallUs -= 7200LL * 1000000;  // and back two
    clock.monotonicUs += 20500;
    thread.step();
    clock.monotonicUs -= 40000;  // a clock that goes back (never the system's): no time
    thread.step();
    clock.monotonicUs += 2500;
    thread.step();
    EXPECT_EQ(task.ticks, (std::vector<int>{10, 20, 0, 2}));
}

TEST_F(TaskThreadTest, TasksAreTickedInJoiningOrder) {
    std::vector<char> order;
    RecordingTask a, b, c;
    a.action = [&] { order.push_back('a'); };
    b.action = [&] { order.push_back('b'); };
    c.action = [&] { order.push_back('c'); };
    thread.addTask(&b);
    thread.addTask(&c);
    thread.addTask(&a);
    thread.step();
    EXPECT_EQ(order, (std::vector<char>{'b', 'c', 'a'}));
}

TEST_F(TaskThreadTest, SleepIsShortOnlyAfterWork) {
    struct Case {
        std::vector<bool> busy;
        bool didWork;
        int sleepMs;
    };
    const Case cases[] = {
        {{}, false, 50},
        {{false}, false, 50},
        {{false, false, false}, false, 50},
        {{true}, true, 5},
        {{false, false, true}, true, 5},
        {{true, false}, true, 5},
    };
    for (const Case& c : cases) {
        TaskThread fresh;
        std::vector<std::unique_ptr<RecordingTask>> tasks;
        for (bool busy : c.busy) {
            tasks.push_back(std::make_unique<RecordingTask>(busy));
            fresh.addTask(tasks.back().get());
        }
        TaskThread::StepResult result = fresh.step();
        EXPECT_EQ(result.didWork, c.didWork) << c.busy.size() << " tasks";
        EXPECT_EQ(result.sleepMs, c.sleepMs) << c.busy.size() << " tasks";
        for (auto& task : tasks) EXPECT_EQ(task->ticks.size(), 1u);  // no tick cut short
    }
}

// run is one step followed by the pause that the step chose.
class PauseRecordingThread : public TaskThread {
public:
    using TaskThread::run;
    std::vector<int> pauses;

protected:
    void pause(int ms) override { pauses.push_back(ms); }
};

TEST_F(TaskThreadTest, RunPausesForTheChosenTime) {
    PauseRecordingThread recording;
    RecordingTask task;
    recording.addTask(&task);
    recording.run();
    task.busy = true;
    recording.run();
    EXPECT_EQ(recording.pauses, (std::vector<int>{50, 5}));
}

TEST_F(TaskThreadTest, TaskAddedByATickIsFirstTickedInTheNextStep) {
    RecordingTask adder, added;
    adder.action = [&] { thread.addTask(&added); };
    thread.addTask(&adder);
    clock.advanceMs(10);
    thread.step();
    EXPECT_TRUE(added.ticks.empty());
    adder.action = nullptr;
    clock.advanceMs(25);
    thread.step();
    EXPECT_EQ(added.ticks, (std::vector<int>{25}));
}

TEST_F(TaskThreadTest, TaskRemovingItselfIsTickedOnceInThatStepAndNeverAgain) {
    RecordingTask before, self, after;
    self.action = [&] { thread.removeTask(&self); };
    thread.addTask(&before);
    thread.addTask(&self);
    thread.addTask(&after);
    thread.step();
    thread.step();
    EXPECT_EQ(self.ticks.size(), 1u);
    EXPECT_EQ(before.ticks.size(), 2u);
    EXPECT_EQ(after.ticks.size(), 2u);  // the tasks behind it still run
}

// A connection that owns a task and is deleted by another task's tick
// (as the socket pool deletes the connections it drops): the owned task is
// later in the same step's list and must not be ticked after the delete.
// Under AddressSanitizer a tick of the freed task would be reported.
struct Owner {
    explicit Owner(TaskThread* thread) : thread(thread) { thread->addTask(&task); }
    ~Owner() { thread->removeTask(&task); }
    TaskThread* thread;
    RecordingTask task;
};

TEST_F(TaskThreadTest, TaskOfAnObjectDeletedMidStepIsNotTickedAgain) {
    RecordingTask reaper, last;
    thread.addTask(&reaper);
    Owner* owner = new Owner(&thread);
    thread.addTask(&last);
    thread.step();
    ASSERT_EQ(owner->task.ticks.size(), 1u);

    reaper.action = [&] {
        delete owner;
        owner = nullptr;
    };
    thread.step();
    EXPECT_EQ(last.ticks.size(), 2u);
    reaper.action = nullptr;
    thread.step();
    EXPECT_EQ(reaper.ticks.size(), 3u);
    EXPECT_EQ(last.ticks.size(), 3u);
}

TEST_F(TaskThreadTest, RemovalsAndAddsTakeEffectInTheOrderTheyWereMade) {
    RecordingTask neverListed, readded, unknown, steady;
    thread.addTask(&steady);

    // Added, then removed before any step: never ticked.
    thread.addTask(&neverListed);
    thread.removeTask(&neverListed);
    // A task that was never listed is ignored.
    thread.removeTask(&unknown);
    thread.step();
    EXPECT_TRUE(neverListed.ticks.empty());

    // Removed and added again during a step (as when a freed task's
    // address is reused by a new one): not ticked for the rest of this
    // step, listed again from the next.
    thread.addTask(&readded);
    thread.step();
    steady.action = [&] {
        thread.removeTask(&readded);
        thread.addTask(&readded);
    };
    thread.step();
    EXPECT_EQ(readded.ticks.size(), 1u);
    steady.action = nullptr;
    thread.step();
    EXPECT_EQ(readded.ticks.size(), 2u);
    EXPECT_EQ(steady.ticks.size(), 4u);
}

TEST_F(TaskThreadTest, TickThatThrowsLeavesTheStepAndTheNextStepRuns) {
    RecordingTask thrower, other;
    thrower.action = [] { error_at(__FILE__, __LINE__)("tick failed"); };
    thread.addTask(&thrower);
    thread.addTask(&other);
    clock.advanceMs(12);
    EXPECT_THROW(thread.step(), i4_err);
    EXPECT_TRUE(other.ticks.empty());

    thrower.action = nullptr;
    clock.advanceMs(3);
    thread.step();  // would hang if the tick lock had been kept
    EXPECT_EQ(thrower.ticks, (std::vector<int>{12, 3}));
    EXPECT_EQ(other.ticks, (std::vector<int>{3}));
}

}  // namespace
