#include "core/task/thread.h"

#include <gtest/gtest.h>

#include "v4ada/threads/spawn_failure.h"

namespace {

class NeverRuns : public Thread {
public:
    int runs = 0;

protected:
    void run() override { runs++; }
};

TEST(ThreadStart, ThreadThatCannotBeCreatedStaysStopped) {
    NeverRuns thread;
    testing::internal::CaptureStderr();
    {
        HugeDefaultStack huge;
        EXPECT_FALSE(thread.start());
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(thread.currentState(), Thread::kStopped);
    thread.stopAndWait();  // nothing to wait for: returns instead of hanging
    EXPECT_EQ(thread.runs, 0);
}

}  // namespace
