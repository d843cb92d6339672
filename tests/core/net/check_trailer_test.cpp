#include "core/net/check_trailer.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

struct TrailerCase {
    int32_t seed;
    std::array<uint8_t, 4> code;
};

// "abcde" and four code bytes, with the codes the routine must produce.
TEST(CheckTrailer, WorkedValues) {
    const TrailerCase cases[] = {
        {4662, {0x1F, 0xED, 0x8C, 0xB7}},
        {15, {0x2F, 0x44, 0x8F, 0xE5}},
        {static_cast<int16_t>(40000), {0x46, 0x69, 0x27, 0xF0}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> b = {0x61, 0x62, 0x63, 0x64, 0x65, 0, 0, 0, 0};
        EXPECT_FALSE(messageCheckTrailer(b.data(), b.size(), c.seed)) << c.seed;
        EXPECT_EQ(std::vector<uint8_t>(b.begin() + 5, b.end()),
                  std::vector<uint8_t>(c.code.begin(), c.code.end())) << c.seed;
        // The receiver runs the same routine over what was written.
        EXPECT_TRUE(messageCheckTrailer(b.data(), b.size(), c.seed)) << c.seed;
        EXPECT_FALSE(messageCheckTrailer(b.data(), b.size(), c.seed + 1)) << c.seed;
    }
}

// The code is a running mix in which each byte's influence is shifted out
// after a few steps, so it guards the bytes just before it (the hello's
// address and port, a check datagram's tail), not the whole message.
TEST(CheckTrailer, ChangedTailBytesFailAndTooShortHoldsNoCode) {
    std::vector<uint8_t> b(49);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 37 + 1);
    messageCheckTrailer(b.data(), b.size(), 15);
    const std::vector<uint8_t> good = b;
    for (size_t i = b.size() - 6; i < b.size(); ++i) {
        b = good;
        b[i] ^= 0x40;
        EXPECT_FALSE(messageCheckTrailer(b.data(), b.size(), 15)) << "byte " << i;
    }
    uint8_t small[4] = {1, 2, 3, 4};
    EXPECT_FALSE(messageCheckTrailer(small, sizeof small, 15));
    EXPECT_EQ(small[0], 1);
    EXPECT_EQ(small[3], 4);
}

}  // namespace
