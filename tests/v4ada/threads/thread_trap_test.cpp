// Worker threads whose entry lets an error escape, and thread creation
// that fails. Kept out of the threaded test program: death tests fork.
#include "v4ada/threads/linux/threads.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "v4ada/error/error.h"
#include "v4ada/threads/spawn_failure.h"

namespace {

void raising_entry(void*) { error_at(__FILE__, __LINE__)("disk %d gone", 7); }

void throwing_entry(void*) { throw 42; }

class ThreadTrapDeathTest : public testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ThreadTrapDeathTest, ErrorEscapingAWorkerEndsTheProcessWithFailure) {
    EXPECT_EXIT(
        {
            thread_spawn(raising_entry, 0, nullptr);
            threads_wait_all();
            _exit(0);  // not reached: the worker ends the process first
        },
        testing::ExitedWithCode(kThreadTrapExitStatus), "Thread error : disk 7 gone\n");
}

TEST_F(ThreadTrapDeathTest, OtherExceptionEscapingAWorkerEndsTheProcessWithFailure) {
    EXPECT_EXIT(
        {
            thread_spawn(throwing_entry, 0, nullptr);
            threads_wait_all();
            _exit(0);
        },
        testing::ExitedWithCode(kThreadTrapExitStatus), "Thread unkown error\n");
}

std::atomic<int> ran{0};

void counting_entry(void*) { ++ran; }

TEST(ThreadSpawnTest, FailedCreationIsReportedAndNotCounted) {
    ran = 0;
    int rc = 0;
    testing::internal::CaptureStderr();
    {
        HugeDefaultStack huge;
        rc = thread_spawn(counting_entry, 0, nullptr);
    }
    std::string printed = testing::internal::GetCapturedStderr();
    ASSERT_NE(rc, 0);
    EXPECT_NE(printed.find("pthread_create error " + std::to_string(rc) + "\n"), std::string::npos) << printed;

    // Nothing is left counted, and the next creation works.
    threads_wait_all();
    EXPECT_EQ(thread_spawn(counting_entry, 0, nullptr), 0);
    threads_wait_all();
    EXPECT_EQ(ran.load(), 1);
}

}  // namespace
