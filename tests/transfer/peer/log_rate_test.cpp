// LogRate: a handful of lines per source in any window whatever keys it
// makes up, one per key among them, a bound on the lines of all sources
// together, and a full table that forgets its least recent source rather
// than keep other sources out.
#include <gtest/gtest.h>

#include <string>

#include "transfer/peer/log_rate.h"
#include "v4ada/time/clock_source.h"

namespace transfertest {
namespace {

class LogRateTest : public ::testing::Test {
protected:
    // Lines let through for count made-up keys of the source.
    int flood(LogRate& rate, const std::string& source, int count) {
        int allowed = 0;
        for (int i = 0; i < count; i++) allowed += rate.allow(source, "made-up " + std::to_string(flooded_++));
        return allowed;
    }

    ManualClock clock_;
    ScopedClockSource scope_{&clock_};
    int flooded_ = 0;
};

TEST_F(LogRateTest, OncePerKeyAWindowWithinTheSourcesFewLines) {
    LogRate rate(1000, 64, 3, 1000);
    EXPECT_TRUE(rate.allow("p", "a"));
    EXPECT_FALSE(rate.allow("p", "a"));
    EXPECT_TRUE(rate.allow("q", "a"));  // another source's key
    clock_.advanceMs(500);
    EXPECT_TRUE(rate.allow("p", "b"));
    EXPECT_TRUE(rate.allow("p", "c"));
    EXPECT_FALSE(rate.allow("p", "d"));  // three lines of p in the window
    EXPECT_TRUE(rate.allow("q", "d"));
    clock_.advanceMs(499);
    EXPECT_FALSE(rate.allow("p", "a"));
    EXPECT_FALSE(rate.allow("p", "d"));
    clock_.advanceMs(1);
    // The line of "a" left the window: one line more for p.
    EXPECT_TRUE(rate.allow("p", "d"));
    EXPECT_FALSE(rate.allow("p", "a"));
    EXPECT_FALSE(rate.allow("p", "b"));
    clock_.advanceMs(500);
    EXPECT_TRUE(rate.allow("p", "a"));
    EXPECT_TRUE(rate.allow("p", "b"));
    EXPECT_FALSE(rate.allow("p", "c"));
}

TEST_F(LogRateTest, AFloodOfMadeUpKeysGetsAFewLinesEachWindowAndOthersStillTheirs) {
    LogRate rate(60000, 1024, 5, 1024);
    for (int minute = 0; minute < 3; minute++) {
        SCOPED_TRACE(minute);
        EXPECT_EQ(flood(rate, "flooder", 6000), 5);
        EXPECT_TRUE(rate.allow("other", "dir " + std::to_string(minute)));
        clock_.advanceMs(59999);
        EXPECT_EQ(flood(rate, "flooder", 100), 0);
        clock_.advanceMs(1);
    }
}

TEST_F(LogRateTest, AFullTableForgetsTheSourceOfTheOldestLastLine) {
    LogRate rate(1000, 4, 3, 1000);
    // Ten sources, one line each: none is kept out, and the table holds the
    // last four.
    for (int i = 0; i < 10; i++) {
        EXPECT_TRUE(rate.allow("s" + std::to_string(i), "k")) << i;
        clock_.advanceMs(1);
    }
    for (int i = 6; i < 10; i++) EXPECT_FALSE(rate.allow("s" + std::to_string(i), "k")) << i;
    EXPECT_TRUE(rate.allow("s0", "k"));
    // A source that stays in the table keeps its bound while the others
    // come and go.
    EXPECT_EQ(flood(rate, "s9", 10), 2);
    for (int i = 10; i < 13; i++) EXPECT_TRUE(rate.allow("s" + std::to_string(i), "k")) << i;
    EXPECT_EQ(flood(rate, "s9", 10), 0);
}

TEST_F(LogRateTest, AllSourcesTogetherHaveAtMostTheBoundAWindow) {
    LogRate rate(1000, 64, 3, 10);
    // Sources old and new take lines until ten are in the window.
    EXPECT_EQ(flood(rate, "s0", 5), 3);
    for (int i = 1; i < 20; i++) {
        clock_.advanceMs(10);
        EXPECT_EQ(rate.allow("s" + std::to_string(i), "k"), i < 8) << i;
    }
    EXPECT_EQ(flood(rate, "s1", 5), 0);
    // Lines leave the window in the order they came: s0's three first.
    clock_.advanceMs(1000 - 190);
    EXPECT_EQ(flood(rate, "s30", 5), 3);
    EXPECT_FALSE(rate.allow("s31", "k"));
    clock_.advanceMs(10);
    EXPECT_TRUE(rate.allow("s31", "k"));
    EXPECT_FALSE(rate.allow("s32", "k"));
}

}  // namespace
}  // namespace transfertest
