// TaskThread: the thread that ticks the periodic tasks.
//
// Each step hands every task the whole milliseconds elapsed since the
// previous step (measured on the monotonic clock; the fraction left over
// counts in the next step, so the ticks add up to the time that passed),
// then pauses 5 ms when some task did work, else 50 ms; a signal of its
// wake-up (a bus post) ends the pause at once. Tasks are not owned.
//
// Any thread may add a task; it joins at the start of the next step. Only
// the task thread removes tasks (tasks, connections and bus handlers all run
// on it); a removed task is not ticked again, not even later in the step
// that removed it, and is never touched afterwards, so its owner may delete
// it at once.
#pragma once

#include <functional>
#include <vector>

#include "core/task/task_wakeup.h"
#include "core/task/thread.h"
#include "core/task/time_slice_task.h"
#include "v4ada/containers/ll.h"
#include "v4ada/threads/linux/sys_mutex.h"
#include "v4ada/time/time_value.h"

class TaskThread : public Thread {
public:
    static constexpr int kBusySleepMs = 5;
    static constexpr int kIdleSleepMs = 50;

    struct StepResult {
        bool didWork;  // some tick returned true
        int sleepMs;   // the pause that follows the step
    };

    TaskThread();
    // Stops the body (if any) and waits for it.
    ~TaskThread() override;

    // Restarts the elapsed-time measure when a new body is spawned.
    bool start() override;

    // Any thread: the task joins at the next step; a task already pending
    // is listed once.
    void addTask(TimeSliceTask* task);
    // Task thread only: the task leaves at once. An earlier pending add of
    // it is cancelled; a later add joins it again at the next step.
    void removeTask(TimeSliceTask* task);

    // One step without the pause: pending tasks join, then every task is
    // ticked with the time since the previous step. Runs on the task
    // thread, or on the caller's thread while no body runs (tests).
    StepResult step();
    // Runs work on the calling thread between two steps: no task is ticked
    // meanwhile, so work may touch what the tasks touch. Work may add tasks
    // but must not remove any, nor wait for a step.
    void runExclusive(const std::function<void()>& work);

    // Signalled by whoever hands this thread work (the bus); waited on in
    // the pause and by the socket pool's poll.
    TaskWakeup* wakeup() { return &wakeup_; }

protected:
    void onStart() override;
    void run() override;
    // The pause between steps; a wake-up signal ends it early.
    virtual void pause(int ms);

private:
    // Whole milliseconds since the previous step; lastStep advances by
    // them, so the rest of a millisecond counts in the next step.
    int elapsedSinceLastStep();

    TaskWakeup wakeup_;
    SysMutex pendingAddLock;
    SysMutex tickLock;
    LL tasks;
    LL pendingAdds TS_GUARDED_BY(pendingAddLock);
    TimeValue lastStep;
    // The tasks of the step in progress, as they were when ticking began.
    std::vector<TimeSliceTask*> ticking;
};
