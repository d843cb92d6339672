#include "v4ada/containers/unique_id.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "v4ada/error/error.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

std::string hexOf(const UniqueID& id) {
    char* t = id.toHex();
    std::string s = t;
    i4_free(t);
    return s;
}

TEST(UniqueID, BitOrderAndText) {
    UniqueID id;
    EXPECT_TRUE(id.isZero());
    id.setBit(0, true);
    EXPECT_EQ(hexOf(id), "80" + std::string(30, '0'));
    id.setBit(127, true);
    EXPECT_EQ(id.bytes()[15], 0x01);
    EXPECT_EQ(id.bit(127), 1);
    EXPECT_EQ(id.bit(1), 0);
    id.setBit(9, true);
    EXPECT_EQ(id.bytes()[1], 0x40);
    id.setBit(128, true);  // out of range: ignored
    EXPECT_EQ(id.bit(128), 0);
    id.setBit(0, false);
    EXPECT_EQ(hexOf(id), "0040" + std::string(26, '0') + "01");

    char bits[6];
    id.toBitString(bits, sizeof bits);
    EXPECT_STREQ(bits, "00000");
    char all[200];
    id.toBitString(all, sizeof all);
    EXPECT_EQ(std::strlen(all), 128u);
    EXPECT_EQ(all[9], '1');
    EXPECT_EQ(all[127], '1');
}

TEST(UniqueID, FromHex) {
    UniqueID id;
    ASSERT_TRUE(id.fromHex("00112233445566778899AABBccDDeeFF"));
    EXPECT_EQ(hexOf(id), "00112233445566778899aabbccddeeff");
    UniqueID copy;
    copy.copy(id);
    EXPECT_TRUE(copy.equals(id));
    EXPECT_TRUE(copy.equals(id.bytes()));

    for (const char* bad : {"0011223344556677889900aabbccddee0",  // 33
                            "0011223344556677889900aabbccdde",    // 31
                            "", "0011223344556677889900aabbccddgg", "0011223344556677889900aabbccdd e"}) {
        EXPECT_FALSE(id.fromHex(bad)) << bad;
        EXPECT_TRUE(id.equals(copy)) << bad;
    }
    EXPECT_FALSE(id.fromHex(nullptr));
}

TEST(UniqueID, Distance) {
    UniqueID a, b;
    a.fromHex("0123456789abcdef0123456789abcdef");
    b.copy(a);
    EXPECT_EQ(a.distance(b), 0.0f);
    b.setBit(127, !b.bit(127));
    EXPECT_EQ(a.distance(b), 0.5f);
    b.copy(a);
    b.setBit(0, !b.bit(0));
    b.setBit(120, !b.bit(120));
    EXPECT_EQ(a.distance(b), std::ldexp(1.0f, 126) + std::ldexp(1.0f, 6));
    EXPECT_EQ(b.distance(a), a.distance(b));
}

TEST(UniqueID, WireRoundTripAndCutShortRead) {
    UniqueID a;
    a.fromHex("f00dfeedcafebeef0102030405060708");
    i4_ram_file_class out(nullptr, 0, 64);
    EXPECT_EQ(a.write(&out), 16);
    ASSERT_EQ(out.size(), 16u);
    EXPECT_EQ(std::memcmp(out.data(), a.bytes(), 16), 0);

    i4_ram_file_class in(out.data(), 16, 0);
    UniqueID b;
    EXPECT_EQ(b.read(&in), 16);
    EXPECT_TRUE(b.equals(a));

    UniqueID c;
    c.fromHex("11111111111111111111111111111111");
    i4_ram_file_class shortIn(out.data(), 15, 0);
    EXPECT_THROW(c.read(&shortIn), i4_err);
    EXPECT_EQ(hexOf(c), "11111111111111111111111111111111");
    i4_free(out.data());
}

}  // namespace
