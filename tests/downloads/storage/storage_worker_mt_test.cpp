#include "downloads/storage/storage_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "v4ada/threads/linux/counting_signal.h"

namespace {

class CountingJob : public StorageJob {
public:
    CountingJob(std::atomic<int>& ran, std::thread::id* where = nullptr) : ran_(ran), where_(where) {}
    void run() override {
        if (where_) *where_ = std::this_thread::get_id();
        ran_++;
    }

private:
    std::atomic<int>& ran_;
    std::thread::id* where_;
};

// A job that holds its thread until released.
class GateJob : public StorageJob {
public:
    GateJob(CountingSignal& entered, CountingSignal& release) : entered_(entered), release_(release) {}
    void run() override {
        entered_.signal();
        release_.wait(0);
    }

private:
    CountingSignal& entered_;
    CountingSignal& release_;
};

TEST(StorageWorkerThreads, RunJobsThenStopAndRunLaterOnesOnTheCaller) {
    StorageWorker worker(3);
    ASSERT_EQ(worker.threadCount(), 3);
    std::atomic<int> ran{0};
    for (int i = 0; i < 100; i++) worker.submit(std::make_unique<CountingJob>(ran));
    worker.waitIdle();
    EXPECT_EQ(ran.load(), 100);

    // A job in hand is finished; one still queued at the stop is dropped.
    CountingSignal entered, release;
    for (int i = 0; i < 3; i++) worker.submit(std::make_unique<GateJob>(entered, release));
    for (int i = 0; i < 3; i++) ASSERT_TRUE(entered.wait(5000));
    worker.submit(std::make_unique<CountingJob>(ran));
    std::thread stopper([&] { worker.stopThreads(); });
    // The count drops once the queue was taken away: only then are the
    // threads let go.
    while (worker.threadCount() != 0) std::this_thread::yield();
    for (int i = 0; i < 3; i++) release.signal();
    stopper.join();
    EXPECT_EQ(worker.threadCount(), 0);
    EXPECT_EQ(ran.load(), 100);

    std::thread::id where;
    worker.submit(std::make_unique<CountingJob>(ran, &where));
    EXPECT_EQ(ran.load(), 101);
    EXPECT_EQ(where, std::this_thread::get_id());
}

TEST(StorageWorkerThreads, WithoutThreadsJobsWaitForRunPending) {
    StorageWorker worker(0);
    std::atomic<int> ran{0};
    worker.submit(std::make_unique<CountingJob>(ran));
    worker.submit(std::make_unique<CountingJob>(ran));
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(worker.runPending(), 2);
    EXPECT_EQ(ran.load(), 2);
}

}  // namespace
