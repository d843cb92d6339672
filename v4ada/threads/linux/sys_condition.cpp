#include "v4ada/threads/linux/sys_condition.h"

#include <cerrno>
#include <ctime>

SysCondition::SysCondition() {
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&condition_, &attributes);
    pthread_condattr_destroy(&attributes);
}

SysCondition::~SysCondition() { pthread_cond_destroy(&condition_); }

void SysCondition::wait(SysMutex* mutex) { pthread_cond_wait(&condition_, mutex->native()); }

bool SysCondition::waitFor(SysMutex* mutex, int ms) {
    if (ms <= 0) return false;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return pthread_cond_timedwait(&condition_, mutex->native(), &deadline) != ETIMEDOUT;
}
