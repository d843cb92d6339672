#include "v4ada/time/random.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

TEST(RandomTest, BelowOneIsAlwaysZero) {
    srand(7);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(random_below(1), 0);
}

TEST(RandomTest, BelowTwentyFiveCoversZeroToTwentyFourOnly) {
    srand(11);
    std::vector<int> seen(26, 0);
    for (int i = 0; i < 20000; ++i) {
        int v = random_below(25);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, 25);
        ++seen[v];
    }
    for (int v = 0; v < 25; ++v) EXPECT_GT(seen[v], 0) << v;
}

TEST(RandomTest, LargeRangeStaysInRangeAndReachesTheTopHalf) {
    srand(3);
    constexpr int kLarge = 2147483647;
    bool upper = false;
    for (int i = 0; i < 2000; ++i) {
        int v = random_below(kLarge);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, kLarge);
        if (v > kLarge / 2) upper = true;
    }
    // A 32-bit product would overflow and give negative or small values.
    EXPECT_TRUE(upper);
}

}  // namespace
