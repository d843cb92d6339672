#include "v4ada/threads/linux/counting_signal.h"

#include <cerrno>
#include <ctime>

CountingSignal::CountingSignal() {
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&condition_, &attributes);
    pthread_condattr_destroy(&attributes);
}

CountingSignal::~CountingSignal() { pthread_cond_destroy(&condition_); }

bool CountingSignal::wait(int ms) {
    SysMutexGuard guard(&mutex_);
    if (pending_ > 0) {
        --pending_;
        return true;
    }
    if (ms < 0) return false;

    timespec deadline{};
    if (ms > 0) {
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += ms / 1000;
        deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
    }

    // Wake-ups carry no token by themselves: only pending_ does, so a
    // spurious wake or one whose token another thread took waits again.
    ++waiters_;
    while (pending_ == 0) {
        if (ms == 0) {
            pthread_cond_wait(&condition_, mutex_.native());
        } else if (pthread_cond_timedwait(&condition_, mutex_.native(), &deadline) == ETIMEDOUT &&
                   pending_ == 0) {
            --waiters_;
            return false;
        }
    }
    --waiters_;
    --pending_;
    return true;
}

void CountingSignal::signal() {
    SysMutexGuard guard(&mutex_);
    ++pending_;
    // Signalled under the mutex: a woken waiter that then destroys this
    // object cannot race with the signal call.
    if (waiters_ > 0) pthread_cond_signal(&condition_);
}
