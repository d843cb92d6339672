// Knowing, instead of guessing with a sleep, that another thread has
// reached a blocking call: the kernel tells which system call a thread is
// blocked in (/proc/self/task/<id>/syscall).
//
//   std::atomic<pid_t> id{0};
//   std::thread t([&] { id = support::this_thread_id(); socket->accept(&out); });
//   ASSERT_TRUE(support::wait_until_blocked_in(id, {SYS_accept, SYS_accept4}));
#pragma once

#include <sys/syscall.h>
#include <sys/types.h>

#include <atomic>
#include <vector>

namespace support {

// The calling thread's kernel thread id.
pid_t this_thread_id();

// Waits until the thread of this process (0: not yet known, waited for
// too) is blocked in one of the system calls; false when it did not get
// there within timeoutMs.
bool wait_until_blocked_in(const std::atomic<pid_t>& thread, const std::vector<long>& syscalls,
                           int timeoutMs = 30000);

// The system calls a thread blocks in while it waits for a mutex or a
// condition, and while it polls descriptors.
inline std::vector<long> lock_waits() { return {SYS_futex}; }
inline std::vector<long> poll_waits() { return {SYS_poll, SYS_ppoll}; }

}  // namespace support
