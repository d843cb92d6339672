#include "v4ada/containers/ll_safe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>
#include "support/thread_probe.h"

namespace {

// Each test's elements are addresses inside this array.
int slots[4096];

TEST(LLsafeMtTest, CountWaitsForUnlock) {
    LLsafe list;
    list.lock();
    std::atomic<int> seen{-1};
    std::atomic<pid_t> id{0};
    std::thread reader([&] {
        id = support::this_thread_id();
        seen = list.count();
    });
    // The reader waits for the list's mutex.
    ASSERT_TRUE(support::wait_until_blocked_in(id, support::lock_waits()));
    EXPECT_EQ(seen.load(), -1);
    for (int i = 0; i < 3; ++i) list.LL::append(&slots[i]);
    list.unlock();
    reader.join();
    // Counted after the unlock, so everything added under the lock is seen.
    EXPECT_EQ(seen.load(), 3);
}

TEST(LLsafeMtTest, ConcurrentAppendsAreAllKept) {
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    LLsafe list;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&list, t] {
            for (int i = 0; i < kEach; ++i) {
                if (i % 2) {
                    list.append(&slots[t * kEach + i]);
                } else {
                    list.prepend(&slots[t * kEach + i]);
                }
            }
        });
    }
    for (auto& w : writers) w.join();
    EXPECT_EQ(list.count(), kThreads * kEach);
    std::set<void*> distinct;
    list.lock();
    LLNode* cursor = nullptr;
    while (void* e = LL::walk(&list, &cursor)) distinct.insert(e);
    list.unlock();
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kEach));
}

// The queue pattern: producers append, one consumer takes from the head.
TEST(LLsafeMtTest, ProducersAndAConsumerLoseNothing) {
    constexpr int kProducers = 3;
    constexpr int kEach = 400;
    LLsafe queue;
    std::atomic<int> producing{kProducers};
    std::vector<std::thread> producers;
    for (int t = 0; t < kProducers; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) queue.append(&slots[t * kEach + i]);
            --producing;
        });
    }
    std::set<void*> taken;
    for (;;) {
        bool done = producing.load() == 0;
        while (void* e = queue.removeAt(0)) taken.insert(e);
        if (done) break;
        std::this_thread::yield();
    }
    for (auto& p : producers) p.join();
    EXPECT_EQ(taken.size(), static_cast<size_t>(kProducers * kEach));
    EXPECT_EQ(queue.count(), 0);
}

TEST(LLsafeMtTest, SetAtPastTheEndWhileOthersAppend) {
    LLsafe list;
    std::thread a([&] {
        for (int i = 0; i < 300; ++i) list.setAt(1 << 20, &slots[i]);
    });
    std::thread b([&] {
        for (int i = 300; i < 600; ++i) list.append(&slots[i]);
    });
    a.join();
    b.join();
    EXPECT_EQ(list.count(), 600);
}

}  // namespace
