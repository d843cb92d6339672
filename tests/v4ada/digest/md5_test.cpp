#include "v4ada/digest/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "support/temp_dir_test.h"

namespace {

std::string md5Of(const std::string& data) {
    Md5Context c;
    c.update(data.data(), static_cast<long>(data.size()));
    uint8_t d[16];
    c.final(d);
    std::string s;
    char buf[3];
    for (uint8_t b : d) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        s += buf;
    }
    return s;
}

TEST(Md5, Rfc1321TestSuite) {
    const struct {
        const char* text;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(md5Of(c.text), c.digest) << '"' << c.text << '"';
}

TEST(Md5, PiecewiseAndNonPositiveUpdates) {
    std::string data;
    for (int i = 0; i < 300; i++) data += static_cast<char>(i * 13);
    Md5Context c;
    c.update(data.data(), -5);
    c.update(data.data(), 0);
    for (size_t at = 0; at < data.size(); at += 17)
        c.update(data.data() + at, static_cast<long>(std::min<size_t>(17, data.size() - at)));
    uint8_t d[16];
    c.final(d);
    uint8_t whole[16];
    Md5Context w;
    w.update(data.data(), static_cast<long>(data.size()));
    w.final(whole);
    EXPECT_EQ(std::memcmp(d, whole, 16), 0);
}

class Md5File : public support::TempDirTest {};

TEST_F(Md5File, DigestsWholeFilesAndLeavesTheBufferForMissingOnes) {
    char out[33];
    ASSERT_TRUE(md5File(writeFile("empty", "").c_str(), out));
    EXPECT_STREQ(out, "d41d8cd98f00b204e9800998ecf8427e");
    ASSERT_TRUE(md5File(writeFile("abc", "abc").c_str(), out));
    EXPECT_STREQ(out, "900150983cd24fb0d6963f7d28e17f72");

    std::string big;
    for (int i = 0; i < 200003; i++) big += static_cast<char>(i * 31 + (i >> 9));
    ASSERT_TRUE(md5File(writeFile("big", big).c_str(), out));
    EXPECT_EQ(std::string(out), md5Of(big));

    char untouched[33] = {0};
    EXPECT_FALSE(md5File(pathOf("missing").c_str(), untouched));
    EXPECT_FALSE(md5File(dir_.path().c_str(), untouched));
    EXPECT_EQ(untouched[0], 0);
}

}  // namespace
