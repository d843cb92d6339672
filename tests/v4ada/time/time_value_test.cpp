#include "v4ada/time/time_value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

struct MsBetweenCase {
    TimeValue later;
    TimeValue earlier;
    int32_t expected;
};

TEST(TimeValueTest, MsBetweenTruncatesEachPartSeparately) {
    const MsBetweenCase cases[] = {
        {{5, 0}, {4, 999999}, 1},          // -999 from the microseconds, +1000 from the seconds
        {{4, 999999}, {5, 0}, -1},         // swapped
        {{7, 123456}, {7, 123456}, 0},     // a stamp with itself
        {{10, 500000}, {7, 500000}, 3000}, // equal microseconds ...
        {{7, 500000}, {10, 500000}, -3000},// ... negate when swapped
        {{6, 1998}, {5, 999999}, 2},       // 1,999 us apart across a second: 2 ms ...
        {{5, 1999}, {5, 0}, 1},            // ... within one second: 1 ms
        {{0, 999}, {0, 0}, 0},             // below one millisecond
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.later.seconds << "." << c.later.microseconds << " - "
                                        << c.earlier.seconds << "." << c.earlier.microseconds);
        EXPECT_EQ(TimeValue::msBetween(c.later, c.earlier), c.expected);
    }
}

TEST(TimeValueTest, MsBetweenLargeSpansClampInsteadOfOverflowing) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    // 30 days: 2,592,000,000 ms does not fit 32 bits.
    EXPECT_EQ(TimeValue::msBetween({30 * 86400, 0}, {0, 0}), kMax);
    EXPECT_EQ(TimeValue::msBetween({0, 0}, {30 * 86400, 0}), kMin);
    // 24 days still fits: 2,073,600,000 ms.
    EXPECT_EQ(TimeValue::msBetween({24 * 86400, 0}, {0, 0}), 2073600000);
    // Extreme seconds must neither overflow the difference nor the product.
    constexpr int64_t kFar = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(TimeValue::msBetween({kFar, 0}, {-kFar, 0}), kMax);
    EXPECT_EQ(TimeValue::msBetween({-kFar, 0}, {kFar, 0}), kMin);
}

TEST(TimeValueTest, UsBetweenIsExactAndAddUsMovesTheStampBackAndForth) {
    constexpr int64_t kFar = std::numeric_limits<int64_t>::max();
    const struct {
        TimeValue later, earlier;
        int64_t us;
    } spans[] = {
        {{5, 0}, {4, 999999}, 1},
        {{4, 999999}, {5, 0}, -1},
        {{10, 250}, {7, 500000}, 2500250},
        {{kFar, 0}, {-kFar, 0}, std::numeric_limits<int64_t>::max()},  // clamped
        {{-kFar, 0}, {kFar, 0}, std::numeric_limits<int64_t>::min()},
    };
    for (const auto& c : spans)
        EXPECT_EQ(TimeValue::usBetween(c.later, c.earlier), c.us) << c.later.seconds << "." << c.later.microseconds;

    const struct {
        TimeValue from;
        int64_t us;
        int64_t seconds;
        int32_t microseconds;
    } moves[] = {
        {{7, 999000}, 1000, 8, 0},            // into the next second
        {{7, 500}, -1000, 6, 999500},         // back into the one before
        {{7, 0}, 3 * 1000000 + 7, 10, 7},
        {{7, 0}, -(3 * 1000000 + 7), 3, 999993},
        {{7, 999999}, 999999, 8, 999998},
    };
    for (const auto& m : moves) {
        TimeValue stamp = m.from;
        stamp.addUs(m.us);
        EXPECT_EQ(stamp.seconds, m.seconds) << m.us;
        EXPECT_EQ(stamp.microseconds, m.microseconds) << m.us;
        EXPECT_EQ(TimeValue::usBetween(stamp, m.from), m.us);
    }
}

TEST(TimeValueTest, StampsFollowTheInstalledClock) {
    ManualClock clock(500);
    ScopedClockSource scope(&clock);

    TimeValue start;
    EXPECT_EQ(start.seconds, 500);
    EXPECT_EQ(start.microseconds, 0);

    clock.advanceMs(1500);
    clock.advanceUs(250);
    TimeValue later;
    EXPECT_EQ(later.seconds, 501);
    EXPECT_EQ(later.microseconds, 500250);
    EXPECT_EQ(TimeValue::msBetween(later, start), 1500);

    start.now();
    EXPECT_EQ(TimeValue::msBetween(later, start), 0);

    ClockReading wall = wall_clock_now();
    EXPECT_EQ(wall.seconds, 501);
    EXPECT_EQ(wall.microseconds, 500250);
}

TEST(TimeValueTest, SystemClockIsBackAfterTheScopeAndMonotonic) {
    {
        ManualClock clock(3);
        ScopedClockSource scope(&clock);
    }
    TimeValue first;
    TimeValue second;
    EXPECT_GE(TimeValue::msBetween(second, first), 0);
    EXPECT_GE(first.microseconds, 0);
    EXPECT_LT(first.microseconds, 1000000);
    // The wall clock is the epoch clock, far from the monotonic one's start.
    EXPECT_GT(wall_clock_now().seconds, 1600000000);
}

}  // namespace
