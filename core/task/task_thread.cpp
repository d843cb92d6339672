#include "core/task/task_thread.h"

#include <cstdint>
#include <limits>

#include "v4ada/threads/linux/threads.h"
#include "v4ada/time/random.h"

TaskThread::TaskThread() { lastStep.now(); }

TaskThread::~TaskThread() { finishBody(); }

bool TaskThread::start() {
    {
        // Only with no body running: a running body owns lastStep.
        SysMutexGuard guard(&mutex);
        if (state == kStopped) lastStep.now();
    }
    return Thread::start();
}

void TaskThread::addTask(TimeSliceTask* task) {
    if (!task) return;
    SysMutexGuard guard(&pendingAddLock);
    pendingAdds.addUnique(task);
}

void TaskThread::removeTask(TimeSliceTask* task) {
    if (!task) return;
    {
        SysMutexGuard guard(&pendingAddLock);
        pendingAdds.remove(task);
    }
    tasks.remove(task);
}

TaskThread::StepResult TaskThread::step() {
    {
        SysMutexGuard guard(&pendingAddLock);
        void* element;
        while ((element = pendingAdds.removeAt(0)) != nullptr) tasks.addUnique(element);
    }

    bool didWork = false;
    {
        SysMutexGuard guard(&tickLock);
        int elapsed = elapsedSinceLastStep();

        ticking.clear();
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(&tasks, &cursor)) ticking.push_back(static_cast<TimeSliceTask*>(element));

        for (TimeSliceTask* task : ticking) {
            // A tick earlier in this step may have removed (and freed) it;
            // the pointer is only compared, never followed, in that case.
            if (!tasks.contains(task)) continue;
            if (task->tick(elapsed)) didWork = true;
        }
        ticking.clear();
    }
    return StepResult{didWork, didWork ? kBusySleepMs : kIdleSleepMs};
}

int TaskThread::elapsedSinceLastStep() {
    constexpr int64_t kUsPerMs = 1000;
    TimeValue now;
    int64_t us = TimeValue::usBetween(now, lastStep);
    if (us < 0) {
        // Only a clock set back by hand goes backwards: start afresh.
        lastStep = now;
        return 0;
    }
    int64_t ms = us / kUsPerMs;
    if (ms >= std::numeric_limits<int32_t>::max()) {
        lastStep = now;
        return std::numeric_limits<int32_t>::max();
    }
    // The fraction of a millisecond stays behind for the next step: the
    // ticks add up to the time that passed, however often steps come.
    lastStep.addUs(ms * kUsPerMs);
    return static_cast<int>(ms);
}

void TaskThread::runExclusive(const std::function<void()>& work) {
    SysMutexGuard guard(&tickLock);
    work();
}

void TaskThread::onStart() { seed_random(); }

void TaskThread::run() { pause(step().sleepMs); }

void TaskThread::pause(int ms) { wakeup_.wait(ms); }
