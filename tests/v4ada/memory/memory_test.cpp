#include "v4ada/memory/memory.h"

#include <gtest/gtest.h>

#include "v4ada/error/error.h"
#include "v4ada/memory/malloc4.h"

TEST(MemoryCompare, SignedBytesAndCaseFolding) {
    const char hi[] = {char(0x80)}, lo[] = {'a'};
    EXPECT_EQ(-1, i4memcmp(hi, lo, 1));  // 0x80 is negative as a signed byte
    EXPECT_EQ(1, i4memcmp("b", "a", 1));
    EXPECT_EQ(0, i4memcmp("abc", "abd", 2));
    EXPECT_EQ(0, i4memicmp("HeLLo", "hello", 5));
    EXPECT_EQ(-1, i4memicmp("a", "B", 1));
    EXPECT_EQ('A', char_upper('a'));
    EXPECT_EQ('1', char_lower('1'));
}

TEST(MemoryCompare, NullPointersAreReported) {
    try {
        i4memcmp(nullptr, "a", 1);
        FAIL();
    } catch (const i4_err& e) {
        EXPECT_STREQ("i4memcmp null pointers passed", e.message());
    }
    EXPECT_THROW(i4memicmp("a", nullptr, 1), i4_err);
}

TEST(Allocation, ReallocOfNullAllocates) {
    void* p = i4_realloc(nullptr, 16);
    ASSERT_NE(nullptr, p);
    i4_free(p);
    i4_free(nullptr);
}
