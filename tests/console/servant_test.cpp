#include "console/cli/servant.h"

#include <gtest/gtest.h>

#include "support/process_objects.h"
#include "support/ui_capture.h"
#include "console/cli/command_words.h"
#include "console/cli/option_commands.h"
#include "core/meta/meta.h"
#include "core/meta/meta_list.h"
#include "core/meta/special_tags.h"
#include "v4ada/error/error.h"

namespace {

std::string gCalls;

void record_a(char* line) { gCalls += std::string("A[") + line + "]"; }
void record_b(char* line) { gCalls += std::string("B[") + line + "]"; }
void record_master(char* line) { gCalls += std::string("M[") + line + "]"; }
void fail(char* line) { error_at(nullptr, 0)("refused: %s", line); }

class ServantTest : public ::testing::Test {
protected:
    void SetUp() override {
        gCalls.clear();
        servant.addPublic("a", record_a, "a\n\tFirst");
        servant.addPublic("same", record_b, "");
        servant.addPublic("same", record_a, "same\n\tSecond");
        servant.addPublic("fail", fail, nullptr);
        servant.addMaster("same", record_master, "never listed");
        consoleServant.store(&servant);
    }
    void TearDown() override { consoleServant.store(nullptr); }

    support::CaptureUI ui;
    Servant servant;
};

}  // namespace

TEST(CommandWords, SplitsAtEveryDelimiter) {
    struct Case {
        const char* line;
        std::vector<std::string> words;
    };
    const std::vector<Case> cases = {
        {"vr,3", {"vr", "3"}},
        {"vr 3", {"vr", "3"}},
        {"s \"two words\"\tx\ny", {"s", "two", "words", "x", "y"}},
        {" , \t\"", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        CommandWords words(c.line);
        ASSERT_EQ(words.count(), static_cast<int>(c.words.size())) << c.line;
        for (int i = 0; i < words.count(); ++i) EXPECT_EQ(words.at(i), c.words[i]) << c.line;
        EXPECT_EQ(words.at(words.count()), nullptr);
    }
}

TEST(OptionNumbers, OnlyWholeTextsAreNumbers) {
    struct Case {
        const char* text;
        bool whole;
        int value;
        bool amount;
    };
    const Case cases[] = {
        {"50", true, 50, true},       {"50x", false, 0, false},   {"-3", true, -3, false},
        {"", false, 0, false},        {"12.5", false, 0, true},   {"99999999999", false, 0, true},
        {" 7", true, 7, true},        {"nan", false, 0, false},   {"1e400", false, 0, false},
        {"3e38", false, 0, true},     {"1e39", false, 0, false},
    };
    for (const Case& c : cases) {
        int n = 0;
        EXPECT_EQ(parse_whole_number(c.text, &n), c.whole) << c.text;
        if (c.whole) {
            EXPECT_EQ(n, c.value) << c.text;
        }
        double d = 0;
        EXPECT_EQ(parse_amount(c.text, &d), c.amount) << c.text;
    }
}

TEST_F(ServantTest, FindsTheFirstExactWordAndMasterWordsOnlyInMasterMode) {
    Servant::execute(&servant, "a,1 2");
    Servant::execute(&servant, "same x");
    Servant::execute(&servant, "A");
    servant.setMasterMode(true);
    Servant::execute(&servant, "same y");
    Servant::execute(&servant, "a");
    EXPECT_EQ(gCalls, "A[a,1 2]B[same x]M[same y]A[a]");
    EXPECT_EQ(ui.text(), "Unrecognized command. type ? for help\n\n");
}

TEST_F(ServantTest, AFailingCommandEndsOnlyItself) {
    Servant::execute(&servant, "fail now");
    Servant::execute(&servant, "a");
    EXPECT_EQ(ui.text(), "refused: fail now\n");
    EXPECT_EQ(gCalls, "A[a]");
}

TEST_F(ServantTest, HelpListsPublicTextsInOrder) {
    Servant::printHelp(&servant);
    EXPECT_EQ(ui.text(), "Commands: (optional arguments)\na\n\tFirst\nsame\n\tSecond\n");
}

TEST_F(ServantTest, RecordTableAndDetail) {
    support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
    MetaList list;
    Servant::printMetaTable(&list);
    Servant::printMetaTable(nullptr);
    Servant::printMeta(nullptr);
    EXPECT_EQ(ui.text(), "None.\nNone.\n");
    ui.clear();

    Meta* first = new Meta();
    first->addTag(MetaTag::makeSpecial(ST_NAME, "song.mp3"));
    first->addTag(MetaTag::makeTag(kTagString, nullptr, "unnamed"));
    int32_t size = 1234;
    first->addTag(MetaTag::makeSpecial(ST_SIZE, &size));
    Meta* second = new Meta();
    second->addTag(MetaTag::makeTag(kTagString, "other", "x"));
    second->addTag(MetaTag::makeSpecial(ST_NAME, "b.txt"));
    list.add(first);
    list.add(second);
    Servant::printMetaTable(&list);
    EXPECT_EQ(ui.text(), "Name\tSize\t\n(1) song.mp3\t1234\t\n(2) b.txt\t\t\n");

    ui.clear();
    Servant::printMeta(first);
    EXPECT_EQ(ui.text(), "Meta Information:\nName:\t\tsong.mp3\n:\t\tunnamed\nSize:\t\t1234\n");
    list.clear();

    // Names from disk or peers cannot forge a row, shift a column or reach
    // the terminal; what is stored stays as it is.
    ui.clear();
    const char* hostile = "a\n(9) forged\tcolumn\x1b[2J";
    Meta* planted = new Meta();
    planted->addTag(MetaTag::makeSpecial(ST_NAME, hostile));
    planted->addTag(MetaTag::makeTag(kTagString, "Odd\rname", "v\x7f"));
    list.add(planted);
    Servant::printMetaTable(&list);
    EXPECT_EQ(ui.text(), "Name\tOdd\\rname\t\n(1) a\\n(9) forged\\tcolumn\\x1b[2J\tv\\x7f\t\n");
    ui.clear();
    Servant::printMeta(planted);
    EXPECT_EQ(ui.text(), "Meta Information:\nName:\t\ta\\n(9) forged\\tcolumn\\x1b[2J\nOdd\\rname:\t\tv\\x7f\n");
    EXPECT_STREQ(planted->textOf(specialCodeName(ST_NAME)), hostile);
    list.clear();

    // A first record without tags: an empty header, numbers only.
    ui.clear();
    list.add(new Meta());
    list.add(new Meta());
    Servant::printMetaTable(&list);
    EXPECT_EQ(ui.text(), "\n(1) \n(2) \n");
    list.clear();
}
