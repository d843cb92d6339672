#include "v4ada/string/cstring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "v4ada/memory/malloc4.h"

namespace {

TEST(CString, CompareOrdersNullFirstAndSignedBytes) {
    struct {
        const char* a;
        const char* b;
        int plain;
        int folded;
    } cases[] = {
        {nullptr, "", -1, -1}, {"", nullptr, 1, 1},      {nullptr, nullptr, 0, 0}, {"abc", "abc", 0, 0},
        {"ab", "abc", -1, -1}, {"abc", "ab", 1, 1},      {"ABC", "abc", -1, 0},    {"\x80", "a", -1, -1},
        {"b", "a", 1, 1},      {"Zebra", "apple", -1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a ? c.a : "(null)") + " vs " + (c.b ? c.b : "(null)"));
        EXPECT_EQ(c.plain, i4_strcmp(c.a, c.b));
        EXPECT_EQ(c.folded, i4_stricmp(c.a, c.b));
    }
}

TEST(CString, SearchVariants) {
    const char* text = "Hello World";
    EXPECT_EQ(text + 6, i4_strstr(text, "World"));
    EXPECT_EQ(nullptr, i4_strstr(text, "world"));
    EXPECT_EQ(text + 6, stristr(text, "wORLD"));
    EXPECT_EQ(text + 6, i4_strstr_lower(text, "world"));
    EXPECT_EQ(nullptr, i4_strstr_lower(text, "World"));  // only the text is folded
    EXPECT_EQ(nullptr, i4_strstr(nullptr, "a"));
    EXPECT_EQ(nullptr, stristr("abc", "abcd"));
}

TEST(CString, CopiesAndNumbers) {
    char buffer[8];
    i4_strncpy(buffer, "abcdefghij", sizeof buffer);
    EXPECT_STREQ("abcdefg", buffer);
    EXPECT_EQ(buffer, i4_strcpy(buffer, "ab"));
    EXPECT_EQ(buffer, i4_strcat(buffer, "cd"));
    EXPECT_EQ(buffer, i4_strcat(buffer, nullptr));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_STREQ("", i4_strcpy(buffer, nullptr));
    char* copy = i4_strdup("dup");
    EXPECT_STREQ("dup", copy);
    i4_free(copy);
    EXPECT_EQ(nullptr, i4_strdup(nullptr));
    EXPECT_EQ(0, i4_strlen(nullptr));
    char lower[] = "MiXeD1";
    EXPECT_STREQ("mixed1", i4_strlwr(lower));

    EXPECT_EQ(-42, i4_atoi("-42abc"));
    EXPECT_EQ(17, i4_atoi("17"));
    EXPECT_EQ(0, i4_atoi("x1"));
    EXPECT_EQ(2147483647, i4_atoi("99999999999"));
}

TEST(CString, NextLineSkipsLineEnds) {
    const char* text = "\r\none\r\ntwo";
    char line[16];
    int index = 0;
    EXPECT_EQ('\r', i4_next_line(line, text, &index));
    EXPECT_STREQ("one", line);
    EXPECT_EQ(0, i4_next_line(line, text, &index));
    EXPECT_STREQ("two", line);
}

std::vector<std::string> tokens(const char* text, const char* delimiters, int size = 64) {
    std::vector<std::string> out;
    std::vector<char> dest(size);
    int index = 0;
    for (;;) {
        int next = i4_strtok(text, delimiters, index, dest.data(), size);
        if (next == 0) break;
        out.push_back(dest.data());
        if (next < 0) break;
        index = next;
    }
    return out;
}

TEST(CString, Tokeniser) {
    char dest[8] = "keep";
    EXPECT_EQ(0, i4_strtok("  ,  ", " ,", 0, dest, sizeof dest));
    EXPECT_STREQ("keep", dest);
    EXPECT_EQ(0, i4_strtok("a", " ", -1, dest, sizeof dest));

    EXPECT_EQ(3, i4_strtok("  a,b", " ,", 0, dest, sizeof dest));
    EXPECT_STREQ("a", dest);
    EXPECT_EQ(-1, i4_strtok("  a,b", " ,", 3, dest, sizeof dest));
    EXPECT_STREQ("b", dest);

    EXPECT_EQ((std::vector<std::string>{"vr", "3"}), tokens("vr,3", " ,\t\n\""));
    EXPECT_EQ((std::vector<std::string>{"s ", "two words", " x"}), tokens("s \"two words\" x", "\""));
    // A token longer than the buffer comes in pieces.
    EXPECT_EQ((std::vector<std::string>{"abc", "def", "g"}), tokens("abcdefg", " ", 4));
}

TEST(CString, BoundedFormatting) {
    char small[8];
    i4_snprintf(small, sizeof small, "%s", "01234567890123456789");
    EXPECT_STREQ("0123456", small);
    char big[64];
    EXPECT_EQ(6, i4_sprintf(big, "%d+%s=%u", -5, "x", 7u));
    EXPECT_STREQ("-5+x=7", big);
}

}  // namespace
