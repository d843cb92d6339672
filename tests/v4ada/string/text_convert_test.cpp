#include "v4ada/string/text_convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(TextConvertTest, ParseSizeTakesTheUnitLetterAnywhere) {
    struct Case {
        const char* text;
        float expected;
    } cases[] = {
        {"1.5m", 1572864.0f}, {"10", 10.0f},          {"2K", 2048.0f},
        {"3G", 3221225472.0f}, {"1 mb", 1048576.0f},  {"2kg", 2147483648.0f},  // 'g' wins
        {"", 0.0f},           {"x5m", 0.0f},          {"-1k", -1024.0f},
    };
    for (const Case& c : cases) EXPECT_FLOAT_EQ(parseSize(c.text), c.expected) << c.text;
    EXPECT_FLOAT_EQ(parseSize(nullptr), 0.0f);
}

TEST(TextConvertTest, ParseMinutesCountsHoursOnlyWithoutAnM) {
    struct Case {
        const char* text;
        float expected;
    } cases[] = {
        {"2h", 120.0f}, {"2hm", 2.0f}, {"2H", 120.0f}, {"45", 45.0f}, {"1.5h", 90.0f}, {"3M", 3.0f},
    };
    for (const Case& c : cases) EXPECT_FLOAT_EQ(parseMinutes(c.text), c.expected) << c.text;
    EXPECT_FLOAT_EQ(parseMinutes(nullptr), 0.0f);
}

TEST(TextConvertTest, FormatSizeUsesDecimalThresholdsAndBinaryUnits) {
    struct Case {
        int64_t size;
        const char* expected;
    } cases[] = {
        {0, "0"},
        {1000, "1000"},
        {1001, "0.98K"},
        {1000000, "976.56K"},
        {1048576, "1.00M"},
        {1000000000, "953.67M"},
        {1073741824, "1.00G"},
        {int64_t{5} << 40, "5120.00G"},
        {-5, "-5"},
        {-5000000000, "-5000000000"},
    };
    for (const Case& c : cases) {
        OwnedString text = formatSize(c.size);
        EXPECT_STREQ(text.c_str(), c.expected) << c.size;
    }
}

TEST(TextConvertTest, UrlUnescapeDecodesWellFormedEscapesOnly) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"a+b%20c", "a b c"},
        {"%41%62c%7E", "Abc~"},
        {"%2B+", "+ "},          // a decoded '+' is not turned into a blank
        {"%2525", "%25"},        // decoded once, not again
        {"50%", "50%"},          // lone '%' at the end
        {"5%4", "5%4"},          // one digit before the end
        {"%zz%41", "%zzA"},      // not hexadecimal: kept, decoding goes on
        {"%4z", "%4z"},          // half an escape gives no byte
        {"%%41", "%A"},
        {"%0x12", "%0x12"},      // strtol would take "0x"; we do not
        {"a%00b", "a"},          // a decoded zero byte ends the text
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string buffer = c.text;
        urlUnescape(buffer.data());
        EXPECT_STREQ(buffer.c_str(), c.expected) << c.text;
    }
    urlUnescape(nullptr);
}

TEST(TextConvertTest, PrintableTextEscapesControlBytesOnly) {
    struct Case {
        const char* text;
        const char* shown;
    } cases[] = {
        {"song.mp3", "song.mp3"},
        {"row\n(2) forged", "row\\n(2) forged"},
        {"a\tb\rc", "a\\tb\\rc"},
        {"\x1b[2Jcleared", "\\x1b[2Jcleared"},
        {"\x01\x1f\x7f", "\\x01\\x1f\\x7f"},
        {"caf\xc3\xa9 \\ ~", "caf\xc3\xa9 \\ ~"},  // UTF-8, backslash and tilde stay
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(printableText(c.text), c.shown) << c.text;
    EXPECT_EQ(printableText(nullptr), "");
}

}  // namespace
