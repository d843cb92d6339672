#include "support/thread_probe.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace support {

namespace {

constexpr int kLookIntervalMs = 1;

// The number of the system call the thread is blocked in; -1 while it
// runs or when it cannot be read.
long blocked_syscall(pid_t thread) {
    std::ifstream in("/proc/self/task/" + std::to_string(thread) + "/syscall");
    std::string first;
    if (!(in >> first) || first.empty() || first[0] < '0' || first[0] > '9') return -1;
    return std::stol(first);
}

}  // namespace

pid_t this_thread_id() { return static_cast<pid_t>(::gettid()); }

bool wait_until_blocked_in(const std::atomic<pid_t>& thread, const std::vector<long>& syscalls, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pid_t id = thread.load();
        if (id != 0) {
            long now = blocked_syscall(id);
            for (long wanted : syscalls)
                if (now == wanted) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kLookIntervalMs));
    }
    return false;
}

}  // namespace support
