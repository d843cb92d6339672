#include "v4ada/threads/linux/counting_signal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>
#include "support/thread_probe.h"

namespace {

using Clock = std::chrono::steady_clock;

long elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// Takes every token left without blocking and counts them.
int drain(CountingSignal& signal) {
    int tokens = 0;
    while (signal.wait(-1)) ++tokens;
    return tokens;
}

TEST(CountingSignalTest, SignalThenWaitReturnsAtOnce) {
    CountingSignal signal;
    signal.signal();
    auto start = Clock::now();
    EXPECT_TRUE(signal.wait(5000));
    EXPECT_LT(elapsed_ms(start), 1000);
}

TEST(CountingSignalTest, TimedOutWaitConsumesNothing) {
    CountingSignal signal;
    signal.signal();
    EXPECT_TRUE(signal.wait(5000));

    auto start = Clock::now();
    EXPECT_FALSE(signal.wait(100));
    long waited = elapsed_ms(start);
    EXPECT_GE(waited, 100);
    EXPECT_LT(waited, 2000);

    // The failed wait left no debt: one signal is one token again.
    signal.signal();
    EXPECT_EQ(drain(signal), 1);
}

TEST(CountingSignalTest, SignalsWithNobodyWaitingAreAllKept) {
    CountingSignal signal;
    for (int i = 0; i < 3; ++i) signal.signal();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(signal.wait(5000)) << i;
    EXPECT_FALSE(signal.wait(1));
}

TEST(CountingSignalTest, SignalWakesABlockedWaiter) {
    CountingSignal signal;
    std::atomic<bool> woke{false};
    std::atomic<pid_t> id{0};
    std::thread waiter([&] {
        id = support::this_thread_id();
        EXPECT_TRUE(signal.wait(0));
        woke = true;
    });
    ASSERT_TRUE(support::wait_until_blocked_in(id, support::lock_waits()));
    EXPECT_FALSE(woke.load());
    signal.signal();
    waiter.join();
    EXPECT_TRUE(woke.load());
    EXPECT_EQ(drain(signal), 0);
}

// Used as a lock with a few tokens, under heavy contention with 1 ms tries
// that keep timing out while tokens come back: a lost token would shrink
// the count left at the end, a duplicated one grow it or let too many
// holders in at once.
TEST(CountingSignalTest, TokensStayExactUnderContention) {
    constexpr int kTokens = 2;
    constexpr int kThreads = 8;
    constexpr int kRounds = 100;
    CountingSignal signal;
    for (int i = 0; i < kTokens; ++i) signal.signal();

    std::atomic<int> holders{0};
    std::atomic<int> mostHolders{0};
    std::atomic<int> taken{0};
    std::atomic<int> timedOut{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                if (!signal.wait(1)) {
                    ++timedOut;
                    continue;
                }
                int now = ++holders;
                int seen = mostHolders.load();
                while (now > seen && !mostHolders.compare_exchange_weak(seen, now)) {
                }
                ++taken;
                // Held about as long as the others try, so their time-outs
                // keep meeting the signal that gives the token back.
                std::this_thread::sleep_for(std::chrono::microseconds(800));
                --holders;
                signal.signal();
            }
        });
    }
    for (auto& thread : threads) thread.join();

    EXPECT_LE(mostHolders.load(), kTokens);
    EXPECT_GT(taken.load(), 0);
    EXPECT_EQ(taken.load() + timedOut.load(), kThreads * kRounds);
    EXPECT_EQ(drain(signal), kTokens);
}

// Signals arrive while several threads keep timing out of 1 ms tries, so
// time-outs and signals meet: every signal must be taken exactly once,
// either by a try or by the drain at the end.
TEST(CountingSignalTest, TimeOutsRacingSignalsLoseNoToken) {
    constexpr int kSignals = 300;
    constexpr int kWaiters = 6;
    CountingSignal signal;
    std::atomic<bool> producing{true};
    std::atomic<int> taken{0};
    std::vector<std::thread> waiters;
    for (int t = 0; t < kWaiters; ++t) {
        waiters.emplace_back([&] {
            while (producing.load())
                if (signal.wait(1)) ++taken;
        });
    }
    for (int i = 0; i < kSignals; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(200 + (i * 137) % 900));
        signal.signal();
    }
    producing = false;
    for (auto& waiter : waiters) waiter.join();
    EXPECT_EQ(taken.load() + drain(signal), kSignals);
}

}  // namespace
