// LogRate: one line per key a window, and a table of keys that stays
// within its size.
#include <gtest/gtest.h>

#include "transfer/peer/log_rate.h"
#include "v4ada/time/clock_source.h"

namespace transfertest {
namespace {

TEST(LogRate, OncePerKeyAWindowAndNewKeysWaitWhileTheTableIsFull) {
    ManualClock clock;
    ScopedClockSource scope(&clock);
    LogRate rate(1000, 2);
    EXPECT_TRUE(rate.allow("a"));
    EXPECT_FALSE(rate.allow("a"));
    clock.advanceMs(500);
    EXPECT_TRUE(rate.allow("b"));
    EXPECT_FALSE(rate.allow("c"));  // two fresh keys already
    clock.advanceMs(499);
    EXPECT_FALSE(rate.allow("a"));
    EXPECT_FALSE(rate.allow("c"));
    clock.advanceMs(1);
    EXPECT_TRUE(rate.allow("c"));  // "a" went stale and made room
    EXPECT_FALSE(rate.allow("b"));
    EXPECT_FALSE(rate.allow("d"));
    clock.advanceMs(500);
    EXPECT_TRUE(rate.allow("b"));
    EXPECT_FALSE(rate.allow("d"));
}

}  // namespace
}  // namespace transfertest
