// SysCondition: a condition variable used with a SysMutex; timed waits are
// measured on the monotonic clock. Wake-ups may be spurious: always wait
// in a loop on the state the condition stands for.
#pragma once

#include <pthread.h>

#include "v4ada/threads/linux/sys_mutex.h"

class SysCondition {
public:
    SysCondition();
    ~SysCondition();
    SysCondition(const SysCondition&) = delete;
    SysCondition& operator=(const SysCondition&) = delete;

    // With the mutex held: releases it while waiting and holds it again on
    // return.
    void wait(SysMutex* mutex) TS_REQUIRES(mutex);
    // Like wait, for at most ms milliseconds (ms <= 0 does not wait); false
    // when the time passed.
    bool waitFor(SysMutex* mutex, int ms) TS_REQUIRES(mutex);
    void signal() { pthread_cond_signal(&condition_); }
    void broadcast() { pthread_cond_broadcast(&condition_); }

private:
    pthread_cond_t condition_;
};
