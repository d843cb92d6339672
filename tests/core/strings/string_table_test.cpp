#include "core/strings/string_table.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/temp_dir.h"
#include "core/strings/priority_names.h"

using namespace support;

namespace {

std::string skin(const std::string& items) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!-- skin -->\n<ui>\n <STRINGS>\n" + items + " </STRINGS>\n</ui>\n";
}

class StringTableTest : public ::testing::Test {
protected:
    support::TempDir base;
    XMLStringTable table;

    std::string defaultSkin() const { return base / "skins/default/ui.xml"; }
};

TEST(StringTableEntries, NumbersKeysAndDefaults) {
    XMLStringTable table;
    struct Case {
        int index;
        const char* key;
        const char* text;
    } cases[] = {
        {STRINGS_DL_STATUS_QUEUED, "STRINGS_DL_STATUS_QUEUED", "Queued"},
        {STRINGS_DL_STATUS_TRANSFERING, "STRINGS_DL_STATUS_TRANSFERING", "Transferring."},
        {STRINGS_CANT_OPEN_PORT, "STRINGS_CANT_OPEN_PORT",
         "Can't Listen for connections. Please adjust your proxy settings in the options tab."},
        {STRINGS_NONE, "STRINGS_NONE", "None."},
        {STRINGS_NAME, "STRINGS_NAME", "Name"},
        {STRINGS_AVAILABILITY, "STRINGS_AVAILABILITY", "Availability"},
        {STRINGS_ENTER_USER_IP, "STRINGS_ENTER_USER_IP", "Enter the users' IP that you want to add."},
        {STRINGS_FSS_UNASKED, "STRINGS_FSS_UNASKED", "Unasked"},
        {STRINGS_FSS_WAIT_CHUNKS_BQ, "STRINGS_FSS_WAIT_CHUNKS_BQ", "Waiting for connection"},
        {STRINGS_FSS_PARTNER, "STRINGS_FSS_PARTNER", "Partner"},
    };
    const int expectedIndex[] = {1, 14, 24, 26, 52, 62, 72, 78, 80, 88};
    int i = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(c.index, expectedIndex[i++]) << c.key;
        EXPECT_STREQ(string_table_key(c.index), c.key);
        EXPECT_STREQ(table.get(c.index), c.text) << c.key;
    }
    for (int index = 1; index < kStringTableSize; index++) {
        ASSERT_NE(table.get(index), nullptr) << index;
        EXPECT_STREQ(table.get(index), string_table_default(index));
        EXPECT_EQ(std::strncmp(string_table_key(index), "STRINGS_", 8), 0) << index;
    }
    for (int index : {0, 89, -1, 1000}) EXPECT_EQ(table.get(index), nullptr) << index;
    EXPECT_STREQ(string_table_key(0), "");
    EXPECT_EQ(string_table_key(89), nullptr);
}

TEST_F(StringTableTest, WithoutSkinTheDefaultsStay) {
    EXPECT_FALSE(table.loadFiles(base.path().c_str(), nullptr));
    EXPECT_FALSE(table.hasSkin());
    OwnedString text("caller default");
    table.lookup("STRINGS_NONE", text);
    EXPECT_STREQ(text.c_str(), "caller default");
    EXPECT_STREQ(table.lookupText("STRINGS_NONE").c_str(), "");
    EXPECT_STREQ(table.get(STRINGS_NONE), "None.");
}

TEST_F(StringTableTest, SkinReplacesTextsByNumberAndKey) {
    write_file(defaultSkin(),
               skin("  <STRINGS_NONE label=\"Nothing at all\"/>\n"
                    "  <strings_dl_status_paused label=\"On hold\"/>\n"
                    "  <STRINGS_FSS_GONE/>\n"
                    "  <STRINGS_AT text=\"not a label\"/>\n"
                    "  <STRINGS_NAME label=\"A &amp; B &#65;\"/>\n"
                    "  <socketSetProb label=\"Socket trouble\"/>\n"));
    ASSERT_TRUE(table.loadFiles(base.path().c_str(), nullptr));
    EXPECT_TRUE(table.hasSkin());

    EXPECT_STREQ(table.get(STRINGS_NONE), "Nothing at all");
    EXPECT_STREQ(table.get(STRINGS_DL_STATUS_PAUSED), "On hold");  // element name in lower case
    EXPECT_STREQ(table.get(STRINGS_FSS_GONE), "Gone");             // no label: default kept
    EXPECT_STREQ(table.get(STRINGS_AT), "at");                     // only label is read
    EXPECT_STREQ(table.get(STRINGS_NAME), "A & B A");
    EXPECT_STREQ(table.get(STRINGS_SIZE), "Size");

    OwnedString text("caller default");
    table.lookup("strings_none", text);  // key case does not matter
    EXPECT_STREQ(text.c_str(), "Nothing at all");
    text = "caller default";
    table.lookup("STRINGS_FSS_GONE", text);
    EXPECT_STREQ(text.c_str(), "caller default");
    text = "caller default";
    table.lookup("notInTheSkin", text);
    EXPECT_STREQ(text.c_str(), "caller default");
    EXPECT_STREQ(table.lookupText("socketSetProb").c_str(), "Socket trouble");
    EXPECT_STREQ(table.lookupText("STRINGS_AT").c_str(), "");
}

TEST_F(StringTableTest, SkinPathIsTriedBeforeTheDefaultSkin) {
    write_file(defaultSkin(), skin("<STRINGS_NONE label=\"default skin\"/>\n"));
    write_file(base / "mine/ui.xml", skin("<STRINGS_NONE label=\"my skin\"/>\n"));
    std::string mine = base / "mine/";
    ASSERT_TRUE(table.loadFiles(base.path().c_str(), mine.c_str()));
    EXPECT_STREQ(table.get(STRINGS_NONE), "my skin");

    XMLStringTable other;
    std::string missing = base / "nowhere/";
    ASSERT_TRUE(other.loadFiles(base.path().c_str(), missing.c_str()));
    EXPECT_STREQ(other.get(STRINGS_NONE), "default skin");
}

TEST_F(StringTableTest, UnreadableSkinKeepsTheBuiltInTexts) {
    const char* broken[] = {
        "",
        "no markup at all",
        "<ui><STRINGS><STRINGS_NONE label='single quotes'/></STRINGS></ui>",
        "<ui><STRINGS><STRINGS_NONE label=\"unterminated",
    };
    for (const char* content : broken) {
        XMLStringTable fresh;
        write_file(defaultSkin(), content);
        fresh.loadFiles(base.path().c_str(), nullptr);
        EXPECT_STREQ(fresh.get(STRINGS_NONE), "None.") << content;
        for (int i = 1; i < kStringTableSize; i++)
            ASSERT_STREQ(fresh.get(i), string_table_default(i)) << content;
    }
}

TEST_F(StringTableTest, ABufferWithoutTerminatorOrWithZerosIsSafe) {
    std::string doc = skin("<STRINGS_NONE label=\"from buffer\"/>\n");
    ASSERT_TRUE(table.loadBuffer(doc.data(), doc.size()));
    EXPECT_STREQ(table.get(STRINGS_NONE), "from buffer");

    std::string cut = skin("<STRINGS_PORT label=\"Gate\"/>\n");
    cut.insert(cut.find("<STRINGS_PORT"), std::string(1, '\0'));
    XMLStringTable other;
    other.loadBuffer(cut.data(), cut.size());
    EXPECT_STREQ(other.get(STRINGS_PORT), "Port");  // the text ends at the zero byte
}

// Makes and destroys the table by hand: those calls are what it tests.
TEST_F(StringTableTest, ProcessWideTableAndPriorityNames) {
    XMLStringTable::createInstance();
    XMLStringTable* first = XMLStringTable::instance();
    ASSERT_NE(first, nullptr);
    XMLStringTable::createInstance();
    EXPECT_EQ(XMLStringTable::instance(), first);

    write_file(base / "skin/ui.xml",
               skin("<HIGH label=\"Urgent\"/><low label=\"Later\"/><normal/>\n"));
    std::string dir = base / "skin/";
    ASSERT_TRUE(loadUIStrings(dir.c_str()));

    EXPECT_EQ(priorityName(0), nullptr);
    setupPriorityNames();
    const char* expected[] = {"Later", "Normal", "Urgent", "Highest"};
    for (int i = 0; i < kPriorityNameCount; i++) EXPECT_STREQ(priorityName(i), expected[i]);
    EXPECT_EQ(priorityName(4), nullptr);
    EXPECT_EQ(priorityName(-1), nullptr);

    // A second set-up keeps the first names even if the skin changed since.
    XMLStringTable::destroyInstance();
    EXPECT_EQ(XMLStringTable::instance(), nullptr);
    setupPriorityNames();
    EXPECT_STREQ(priorityName(2), "Urgent");
    freePriorityNames();
    EXPECT_EQ(priorityName(2), nullptr);
    setupPriorityNames();  // no table: the built-in names
    EXPECT_STREQ(priorityName(2), "High");
    freePriorityNames();
}

}  // namespace

// Makes the table by hand midway: the texts before and after are what it tests.
TEST(StringTableTexts, ProcessWideTextsFallBackToDefaults) {
    ASSERT_EQ(XMLStringTable::instance(), nullptr);
    EXPECT_STREQ(uiString(STRINGS_NONE), "None.");
    EXPECT_STREQ(uiString(0), "");
    EXPECT_STREQ(uiString(kStringTableSize), "");
    EXPECT_STREQ(uiText("oldKnownMet", "Old known.met").c_str(), "Old known.met");

    XMLStringTable::createInstance();
    const char* xml = "<ui><STRINGS><STRINGS_NONE label=\"Nothing\"/><oldKnownMet label=\"Stale\"/></STRINGS></ui>";
    ASSERT_TRUE(XMLStringTable::instance()->loadBuffer(xml, strlen(xml)));
    EXPECT_STREQ(uiString(STRINGS_NONE), "Nothing");
    EXPECT_STREQ(uiText("oldKnownMet", "Old known.met").c_str(), "Stale");
    EXPECT_STREQ(uiText("importFailed", "Import failed:").c_str(), "Import failed:");
    XMLStringTable::destroyInstance();
}
