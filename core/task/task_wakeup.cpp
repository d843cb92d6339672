#include "core/task/task_wakeup.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "v4ada/threads/linux/threads.h"

TaskWakeup::TaskWakeup() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TaskWakeup::~TaskWakeup() {
    if (fd_ >= 0) ::close(fd_);
}

void TaskWakeup::signal() {
    if (fd_ < 0) return;
    uint64_t one = 1;
    // A full counter (EAGAIN) is signalled already.
    ssize_t written;
    do {
        written = ::write(fd_, &one, sizeof one);
    } while (written < 0 && errno == EINTR);
}

void TaskWakeup::drain() {
    if (fd_ < 0) return;
    uint64_t count;
    ssize_t got;
    do {
        got = ::read(fd_, &count, sizeof count);
    } while (got < 0 && errno == EINTR);
}

bool TaskWakeup::wait(int ms) {
    if (fd_ < 0) {
        if (ms > 0) sleep_ms(ms);
        return false;
    }
    pollfd entry{fd_, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, ms < 0 ? 0 : ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}
