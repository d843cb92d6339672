#include "core/task/thread.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <cstdint>

namespace {

// Makes every thread creation fail for its lifetime: the default stack is
// far larger than any address space.
class HugeDefaultStack {
public:
    HugeDefaultStack() {
        pthread_getattr_default_np(&saved_);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, SIZE_MAX / 4);
        pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~HugeDefaultStack() {
        pthread_setattr_default_np(&saved_);
        pthread_attr_destroy(&saved_);
    }

private:
    pthread_attr_t saved_;
};

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
        thread.start();
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(thread.currentState(), Thread::kStopped);
    thread.stopAndWait();  // nothing to wait for: returns instead of hanging
    EXPECT_EQ(thread.runs, 0);
}

}  // namespace
