#include "core/task/thread.h"

#include "v4ada/threads/linux/threads.h"

bool Thread::start() {
    SysMutexGuard guard(&mutex);
    if (state == kRunning) return true;
    waiting = false;
    if (state == kStopRequested) {
        // The body has not seen the request yet and simply goes on.
        state = kRunning;
        return true;
    }
    state = kRunning;
    handle = thread_spawn(&Thread::entry, kStackSize, this);
    // No body was created: stay stopped, so that nobody waits for it.
    if (handle != 0) state = kStopped;
    return handle == 0;
}

void Thread::requestStop() {
    SysMutexGuard guard(&mutex);
    state = kStopRequested;
}

void Thread::stopAndWait() {
    {
        SysMutexGuard guard(&mutex);
        if (state != kRunning) return;
        waiting = true;
        state = kStopRequested;
    }
    waitUntilStopped();
}

void Thread::finishBody() {
    {
        SysMutexGuard guard(&mutex);
        if (state == kStopped) return;
        waiting = true;
        state = kStopRequested;
    }
    waitUntilStopped();
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
    return thread_set_priority(static_cast<ThreadHandle>(handle), level) ? 0 : -1;
}

int32_t Thread::currentState() {
    SysMutexGuard guard(&mutex);
    return state;
}

void Thread::entry(void* self) { static_cast<Thread*>(self)->body(); }

void Thread::body() {
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
    // A waiter may destroy the object as soon as it sees the stopped state,
    // so only the flag read under the lock decides what happens now.
    if (!waited) onExit();
}
