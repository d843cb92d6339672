#include "v4ada/threads/linux/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <thread>

#include "v4ada/threads/linux/counting_signal.h"
#include "support/thread_probe.h"

namespace {

struct Mark {
    std::atomic<char> ran{0};
    std::atomic<bool> otherThread{false};
    ThreadHandle spawner{};
};

void entry_a(void* argument) {
    Mark* mark = static_cast<Mark*>(argument);
    mark->otherThread = !pthread_equal(thread_self(), mark->spawner);
    mark->ran = 'a';
}

void entry_b(void* argument) {
    Mark* mark = static_cast<Mark*>(argument);
    mark->otherThread = !pthread_equal(thread_self(), mark->spawner);
    mark->ran = 'b';
}

TEST(ThreadsTest, BackToBackSpawnsRunTheirOwnEntries) {
    for (int i = 0; i < 20; ++i) {
        Mark first, second;
        first.spawner = second.spawner = thread_self();
        ASSERT_EQ(thread_spawn(entry_a, 51200, &first), 0);
        ASSERT_EQ(thread_spawn(entry_b, 51200, &second), 0);
        threads_wait_all();
        EXPECT_EQ(first.ran.load(), 'a');
        EXPECT_EQ(second.ran.load(), 'b');
        EXPECT_TRUE(first.otherThread.load());
        EXPECT_TRUE(second.otherThread.load());
    }
}

// Returns with no worker at all (a wait that never ended would show as the
// test's time-out; no clock is read here).
TEST(ThreadsTest, WaitAllReturnsWithNoWorker) { threads_wait_all(); }

struct Gated {
    CountingSignal gate;
    std::atomic<bool> finished{false};
};

void gated_entry(void* argument) {
    Gated* gated = static_cast<Gated*>(argument);
    gated->gate.wait(0);
    gated->finished = true;
}

TEST(ThreadsTest, WaitAllReturnsOnlyAfterTheWorkerEnded) {
    Gated gated;
    ASSERT_EQ(thread_spawn(gated_entry, 0, &gated), 0);

    std::atomic<pid_t> id{0};
    std::atomic<bool> waited{false};
    std::thread waiter([&] {
        id = support::this_thread_id();
        threads_wait_all();
        waited = true;
    });
    // The waiter is inside its wait (sleeping between looks at the count).
    ASSERT_TRUE(support::wait_until_blocked_in(id, {SYS_clock_nanosleep, SYS_nanosleep}));
    EXPECT_FALSE(waited.load());

    gated.gate.signal();
    waiter.join();
    EXPECT_TRUE(gated.finished.load());
}

struct TlsProbe {
    TlsKey key;
    void* before = reinterpret_cast<void*>(1);
    void* after = nullptr;
    int own = 0;
};

void tls_entry(void* argument) {
    TlsProbe* probe = static_cast<TlsProbe*>(argument);
    probe->before = tls_get(probe->key);
    tls_set(probe->key, &probe->own);
    probe->after = tls_get(probe->key);
}

TEST(ThreadsTest, ThreadLocalValuesArePerThread) {
    TlsKey key = tls_create_key();
    EXPECT_EQ(tls_get(key), nullptr);
    int mine = 0;
    tls_set(key, &mine);

    TlsProbe probe;
    probe.key = key;
    ASSERT_EQ(thread_spawn(tls_entry, 0, &probe), 0);
    threads_wait_all();

    EXPECT_EQ(probe.before, nullptr);
    EXPECT_EQ(probe.after, &probe.own);
    EXPECT_EQ(tls_get(key), &mine);
    pthread_key_delete(key);
}

TEST(ThreadsTest, SleepWaitsAtLeastTheTimeAsked) {
    auto start = std::chrono::steady_clock::now();
    sleep_ms(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    start = std::chrono::steady_clock::now();
    sleep_seconds(1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(ThreadsTest, SleepBelowOneReturnsAtOnce) {
    auto start = std::chrono::steady_clock::now();
    for (int value : {0, -1, INT_MIN}) {
        sleep_ms(value);
        sleep_seconds(value);
    }
    // Any real sleep of whole seconds would take at least one.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
