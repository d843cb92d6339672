#include "v4ada/string/owned_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "v4ada/error/error.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

std::vector<uint8_t> encoded(uint16_t length, char fill, size_t extra = 0) {
    std::vector<uint8_t> bytes = {uint8_t(length), uint8_t(length >> 8)};
    bytes.insert(bytes.end(), length, uint8_t(fill));
    bytes.insert(bytes.end(), extra, uint8_t('#'));
    return bytes;
}

TEST(OwnedString, NullIsDistinctFromEmpty) {
    OwnedString empty;
    OwnedString null(static_cast<const char*>(nullptr));
    EXPECT_STREQ("", empty.c_str());
    EXPECT_EQ(nullptr, null.c_str());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_TRUE(null.isEmpty());
    EXPECT_FALSE(empty.equals(null));
    EXPECT_TRUE(null.equals(static_cast<const char*>(nullptr)));
    OwnedString copy(null);
    EXPECT_EQ(nullptr, copy.c_str());
}

TEST(OwnedString, PrefixConstructorStopsAtTerminator) {
    EXPECT_STREQ("abc", OwnedString("abcdef", 3).c_str());
    EXPECT_STREQ("ab", OwnedString("ab", 10).c_str());
}

TEST(OwnedString, AppendCases) {
    OwnedString null(static_cast<const char*>(nullptr));
    null.append(nullptr);
    EXPECT_EQ(nullptr, null.c_str());
    null.append("x");
    EXPECT_STREQ("x", null.c_str());
    null.append("yz!", 2);
    EXPECT_STREQ("xyz", null.c_str());
}

TEST(OwnedString, EditingOperations) {
    OwnedString s("Hello World");
    s.toLower();
    EXPECT_STREQ("hello world", s.c_str());
    s.truncate(50);
    s.truncate(11);
    EXPECT_STREQ("hello world", s.c_str());
    s.truncate(5);
    EXPECT_STREQ("hello", s.c_str());
    EXPECT_EQ(2, s.replaceChar('l', 'L'));
    EXPECT_STREQ("heLLo", s.c_str());

    OwnedString r("aXbXXc");
    EXPECT_EQ(3, r.replaceAll("X", "--"));
    EXPECT_STREQ("a--b----c", r.c_str());
    EXPECT_EQ(0, r.replaceAll("zz", "y"));
    OwnedString overlap("aaaa");
    EXPECT_EQ(2, overlap.replaceAll("aa", "b"));
    EXPECT_STREQ("bb", overlap.c_str());

    s.assign(s.c_str() + 1);  // assigning from its own text
    EXPECT_STREQ("eLLo", s.c_str());
    s = s;
    EXPECT_STREQ("eLLo", s.c_str());
}

TEST(OwnedString, FormatHasNoLengthLimit) {
    OwnedString s;
    std::string big(5000, 'q');
    s.format("<%s|%d>", big.c_str(), -12);
    EXPECT_EQ("<" + big + "|-12>", std::string(s.c_str()));
}

struct DecodeCase {
    const char* name;
    std::vector<uint8_t> bytes;
    unsigned maximum;
    const char* expected;  // null: the read fails
    i4_pos streamAfter;
};

TEST(OwnedStringCodec, ReadsTable) {
    const DecodeCase cases[] = {
        {"empty", {0x00, 0x00}, 100, "", 2},
        {"refused length", {0xFF, 0xFF, 'a'}, 100, nullptr, 0},
        {"short body", {0x05, 0x00, 'a', 'b'}, 100, nullptr, 0},
        {"short length", {0x05}, 100, nullptr, 0},
        {"kept whole", encoded(60, 'k', 3), 100, nullptr, 62},
        {"cut to maximum", encoded(150, 'c', 3), 100, nullptr, 152},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = c.bytes;
        i4_ram_file_class file(bytes.data(), bytes.size(), 0);
        if (c.streamAfter == 0) {
            EXPECT_THROW(OwnedString(c.maximum, &file), i4_err);
            continue;
        }
        OwnedString s(c.maximum, &file);
        if (c.expected) {
            EXPECT_STREQ(c.expected, s.c_str());
        }
        EXPECT_EQ(c.streamAfter, file.tell());
        uint16_t length = uint16_t(bytes[0] | bytes[1] << 8);
        EXPECT_EQ(std::min<unsigned>(length, c.maximum), unsigned(s.length()));
    }
}

TEST(OwnedStringCodec, RefusedLengthMessageAndRoundTrip) {
    uint8_t bad[] = {0xFF, 0xFF};
    i4_ram_file_class in(bad, 2, 0);
    try {
        OwnedString s(&in);
        FAIL();
    } catch (const i4_err& e) {
        EXPECT_STREQ("read string error", e.message());
    }

    i4_ram_file_class out(nullptr, 0, 16);
    OwnedString("hello").write(&out);
    i4_write_string(nullptr, &out);
    ASSERT_EQ(9u, out.size());
    EXPECT_EQ(0, memcmp(out.data(), "\x05\x00hello\x00\x00", 9));
    out.seek(0);
    EXPECT_STREQ("hello", OwnedString(&out).c_str());
    EXPECT_STREQ("", OwnedString(&out).c_str());
    i4_free(out.data());
}

TEST(OwnedStringCodec, OverlongTextAndFullFileFailToWrite) {
    std::string big(70000, 'x');
    i4_ram_file_class out(nullptr, 0, 1024);
    EXPECT_THROW(i4_write_string(big.c_str(), &out), i4_err);
    i4_free(out.data());

    char small[4];
    i4_ram_file_class fixed(small, sizeof small, 0);
    EXPECT_THROW(i4_write_string("toolong", &fixed), i4_err);
}

TEST(OwnedStringCodec, ExactReadWithoutPrefix) {
    uint8_t bytes[] = {'a', 'b', 'c'};
    i4_ram_file_class in(bytes, 3, 0);
    EXPECT_STREQ("ab", OwnedString(&in, 2).c_str());
    EXPECT_THROW(OwnedString(&in, 2), i4_err);
}

}  // namespace
