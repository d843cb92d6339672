#include "v4ada/string/ini_file.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir_test.h"

namespace {

class IniFileTest : public support::TempDirTest {
protected:
    std::string write(const char* name, const std::string& text) { return writeFile(name, text); }
    std::string value(const IniFile& ini, const char* section, const char* key) {
        OwnedString out("unchanged");
        if (!ini.getString(section, key, out)) return "<missing>";
        return out.c_str();
    }
};

TEST_F(IniFileTest, ReadsSectionsKeysAndCommentsFromAFile) {
    IniFile ini;
    ASSERT_TRUE(ini.load(write("net.ini",
                               "top=root value\r\n"
                               "[Net]\r\n"
                               "Port=4662\r\n"
                               "Name = x\n"
                               "; Hidden=1\n"
                               "no equals sign\n"
                               "[broken\n"
                               "Url=a=b\n"
                               "Port=1\n"
                               "[[odd] name]]\n"
                               "flag=TRUE\n"
                               "other=yes\n")
                             .c_str()));

    int port = 0;
    EXPECT_TRUE(ini.getInt("net", "port", port));
    EXPECT_EQ(port, 4662);  // the first of two entries with the same key
    EXPECT_EQ(value(ini, "", "top"), "root value");
    EXPECT_EQ(value(ini, "NET", "url"), "a=b");  // "[broken" opened no section
    EXPECT_EQ(value(ini, "Net", "Name "), " x");  // no trimming either side
    EXPECT_EQ(value(ini, "Net", "name"), "<missing>");
    EXPECT_EQ(value(ini, "Net", "; Hidden"), "<missing>");
    EXPECT_EQ(value(ini, "Net", "top"), "<missing>");
    EXPECT_EQ(value(ini, "nowhere", "port"), "<missing>");

    bool flag = false;
    EXPECT_TRUE(ini.getBool("[odd] name]", "flag", flag));
    EXPECT_TRUE(flag);
    flag = true;
    EXPECT_TRUE(ini.getBool("[odd] name]", "other", flag));
    EXPECT_FALSE(flag);
    EXPECT_FALSE(ini.getBool("[odd] name]", "missing", flag));

    // An empty key finds the section's head entry, whose value is empty.
    EXPECT_EQ(value(ini, "net", ""), "");
}

TEST_F(IniFileTest, IndexedSectionsAndKeysAddressLists) {
    IniFile ini;
    ASSERT_TRUE(ini.load(write("list.ini",
                               "[Server[0]]\nhost=a\nalias[0]=a0\nalias[1]=a1\n"
                               "[Server[1]]\nhost=b\nport[2]=-7\nsecure=true\n")
                             .c_str()));
    OwnedString out;
    EXPECT_TRUE(ini.getString("server", 1, "HOST", out));
    EXPECT_STREQ(out.c_str(), "b");
    EXPECT_TRUE(ini.getString("Server[0]", "alias", 1, out));
    EXPECT_STREQ(out.c_str(), "a1");
    EXPECT_TRUE(ini.getString("Server", 0, "alias", 0, out));
    EXPECT_STREQ(out.c_str(), "a0");
    EXPECT_FALSE(ini.getString("Server", 2, "host", out));

    int port = 0;
    EXPECT_TRUE(ini.getInt("server", 1, "port", 2, port));
    EXPECT_EQ(port, -7);
    bool secure = false;
    EXPECT_TRUE(ini.getBool("server", 1, "secure", secure));
    EXPECT_TRUE(secure);
}

TEST_F(IniFileTest, LongLinesArriveInPiecesAndNumbersAreClamped) {
    std::string longKey(kIniMaxLine - 2, 'k');
    std::string text = longKey + "=abcdef\n";  // "=a" fit the first piece
    text += "big=99999999999999\nsmall=-99999999999999\n";
    IniFile ini;
    ASSERT_TRUE(ini.load(write("long.ini", text).c_str()));
    EXPECT_EQ(value(ini, "", longKey.c_str()), "a");
    int number = 0;
    EXPECT_TRUE(ini.getInt("", "big", number));
    EXPECT_EQ(number, 2147483647);
    EXPECT_TRUE(ini.getInt("", "small", number));
    EXPECT_EQ(number, -2147483647 - 1);

    // The memory reader cuts the same pieces.
    IniFile fromMemory;
    ASSERT_TRUE(fromMemory.loadBuffer(text.data(), text.size()));
    EXPECT_EQ(value(fromMemory, "", longKey.c_str()), "a");
    EXPECT_EQ(value(fromMemory, "", "bcdef"), "<missing>");  // second piece has no '='
}

TEST_F(IniFileTest, MissingFileFails) {
    IniFile ini;
    EXPECT_FALSE(ini.load(pathOf("absent.ini").c_str()));
    EXPECT_FALSE(ini.load(nullptr));
}

}  // namespace
