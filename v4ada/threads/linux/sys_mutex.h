// SysMutex: the base library's mutex (not recursive: a thread never locks
// one it already holds). SysMutexGuard locks it for a scope.
#pragma once

#include <pthread.h>

class SysMutex {
public:
    SysMutex() { pthread_mutex_init(&mutex_, nullptr); }
    ~SysMutex() { pthread_mutex_destroy(&mutex_); }
    SysMutex(const SysMutex&) = delete;
    SysMutex& operator=(const SysMutex&) = delete;

    void lock() { pthread_mutex_lock(&mutex_); }
    void unlock() { pthread_mutex_unlock(&mutex_); }
    pthread_mutex_t* native() { return &mutex_; }

private:
    pthread_mutex_t mutex_;
};

class SysMutexGuard {
public:
    explicit SysMutexGuard(SysMutex* mutex) : mutex_(mutex) { mutex_->lock(); }
    ~SysMutexGuard() { mutex_->unlock(); }
    SysMutexGuard(const SysMutexGuard&) = delete;
    SysMutexGuard& operator=(const SysMutexGuard&) = delete;

private:
    SysMutex* mutex_;
};
