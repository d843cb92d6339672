#include "core/task/thread.h"

#include "v4ada/threads/linux/threads.h"

bool Thread::start() {
    for (;;) {
        std::shared_ptr<std::atomic<bool>> previous;
        {
            SysMutexGuard guard(&mutex);
            if (state == kRunning) return true;
            waiting = false;
            if (state == kStopRequested) {
                // The body has not seen the request yet and simply goes on.
                state = kRunning;
                return true;
            }
            // A body that stopped itself may still be in its onExit: one
            // body at a time touches the object.
            if (!bodyLeft_ || bodyLeft_->load()) {
                state = kRunning;
                previous = bodyLeft_;
                bodyLeft_ = std::make_shared<std::atomic<bool>>(false);
                handle = thread_spawn(&Thread::entry, kStackSize, this);
                // No body was created: stay stopped, so that nobody waits for it.
                if (handle != 0) {
                    state = kStopped;
                    bodyLeft_ = previous;
                }
                return handle == 0;
            }
            previous = bodyLeft_;
        }
        waitForBodyExit(previous);
    }
}

void Thread::requestStop() {
    SysMutexGuard guard(&mutex);
    state = kStopRequested;
}

void Thread::stopAndWait() {
    bool wait = false;
    std::shared_ptr<std::atomic<bool>> left;
    {
        SysMutexGuard guard(&mutex);
        if (state == kRunning) {
            waiting = true;
            state = kStopRequested;
            wait = true;
        }
        left = bodyLeft_;
    }
    if (wait) waitUntilStopped();
    waitForBodyExit(left);
}

void Thread::finishBody() {
    bool wait = false;
    std::shared_ptr<std::atomic<bool>> left;
    {
        SysMutexGuard guard(&mutex);
        if (state != kStopped) {
            waiting = true;
            state = kStopRequested;
            wait = true;
        }
        left = bodyLeft_;
    }
    if (wait) waitUntilStopped();
    waitForBodyExit(left);
}

void Thread::waitForBodyExit(const std::shared_ptr<std::atomic<bool>>& left) {
    while (left && !left->load()) sleep_ms(1);
}

void Thread::waitUntilStopped() {
    for (;;) {
        {
            SysMutexGuard guard(&mutex);
            if (state == kStopped) return;
        }
        sleep_ms(kStopPollMs);
    }
}

int Thread::setPriority(int level) {
    int32_t current;
    {
        SysMutexGuard guard(&mutex);
        current = handle;
    }
    return thread_set_priority(static_cast<ThreadHandle>(current), level) ? 0 : -1;
}

int32_t Thread::currentState() {
    SysMutexGuard guard(&mutex);
    return state;
}

void Thread::entry(void* self) { static_cast<Thread*>(self)->body(); }

void Thread::body() {
    std::shared_ptr<std::atomic<bool>> left;
    {
        SysMutexGuard guard(&mutex);
        left = bodyLeft_;
    }
    onStart();
    bool waited;
    for (;;) {
        run();
        SysMutexGuard guard(&mutex);
        if (state != kRunning) {
            state = kStopped;
            waited = waiting;
            break;
        }
    }
    // A waiter may destroy the object as soon as it sees the stopped state
    // and this body's latch set, so only the flag read under the lock
    // decides what happens now, and the latch is the last thing touched.
    if (!waited) onExit();
    left->store(true);
}
