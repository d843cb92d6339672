// SysMutex: the base library's mutex (not recursive: a thread never locks
// one it already holds). SysMutexGuard locks it for a scope. Both are
// known to clang's thread-safety analysis (thread_annotations.h).
#pragma once

#include <pthread.h>

#include "v4ada/threads/linux/thread_annotations.h"

class TS_CAPABILITY("mutex") SysMutex {
public:
    SysMutex() { pthread_mutex_init(&mutex_, nullptr); }
    ~SysMutex() { pthread_mutex_destroy(&mutex_); }
    SysMutex(const SysMutex&) = delete;
    SysMutex& operator=(const SysMutex&) = delete;

    void lock() TS_ACQUIRE() { pthread_mutex_lock(&mutex_); }
    void unlock() TS_RELEASE() { pthread_mutex_unlock(&mutex_); }
    pthread_mutex_t* native() { return &mutex_; }

private:
    pthread_mutex_t mutex_;
};

class TS_SCOPED_CAPABILITY SysMutexGuard {
public:
    explicit SysMutexGuard(SysMutex* mutex) TS_ACQUIRE(mutex) : mutex_(mutex) { mutex_->lock(); }
    ~SysMutexGuard() TS_RELEASE() { mutex_->unlock(); }
    SysMutexGuard(const SysMutexGuard&) = delete;
    SysMutexGuard& operator=(const SysMutexGuard&) = delete;

private:
    SysMutex* mutex_;
};
