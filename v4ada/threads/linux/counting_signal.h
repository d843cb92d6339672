// CountingSignal: a counting semaphore with timed waits.
//
// A signal with nobody waiting is kept as a token and lets the next wait
// return at once, so a CountingSignal signalled once serves as a lock that
// wait takes and signal gives back. Every signal is consumed by exactly
// one successful wait; a wait that times out consumes nothing.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "v4ada/threads/linux/sys_mutex.h"

class CountingSignal {
public:
    CountingSignal();
    ~CountingSignal();
    CountingSignal(const CountingSignal&) = delete;
    CountingSignal& operator=(const CountingSignal&) = delete;

    // Takes one token: true once one was taken, false when ms milliseconds
    // (measured on the monotonic clock) passed first. ms = 0 waits without
    // limit; a negative ms only tries.
    bool wait(int ms);
    // Adds one token and wakes one waiter, if any.
    void signal();

private:
    pthread_cond_t condition_;
    SysMutex mutex_;
    int32_t waiters_ TS_GUARDED_BY(mutex_) = 0;  // threads blocked in wait
    int32_t pending_ TS_GUARDED_BY(mutex_) = 0;  // tokens not yet taken
};
