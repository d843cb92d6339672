// The console commands of the tandrel program, typed through a pipe.
#include <sys/stat.h>

#include <fstream>

#include "console/tandrel_process_fixture.h"
#include "core/options/core_options.h"
#include "support/process_objects.h"

namespace {

constexpr const char* kUnknown = "Unrecognized command. type ? for help\n\n";

}  // namespace

TEST_F(TandrelTest, HelpListsRegisteredPublicWordsInTableOrder) {
    EXPECT_EQ(runWith({}, "?\n"), 0);
    const std::string& out = process_.out();
    EXPECT_TRUE(in_order(out, {"Commands: (optional arguments)\n",
                               "dumax # #\n\tSets the maximum download and upload bandwidth.(in KB/sec)\n",
                               "echo\n\tEcho a string to the console\n",
                               "line #\n\tSets the maximum possible download speed of your line.(in KB/sec)\n",
                               "lines #\n\tSets the number of screen lines tandrel thinks you have\n",
                               "mcon #\n\tSets max. number of connections from peers allowed to your machine\n",
                               "name [desired name]\n\tChange your user name\n",
                               "q\n\tQuit\n",
                               "verbose (-)\n\tSets debugging messages on or off(-)\n",
                               "?\n\tPrint help\n"}));
    EXPECT_EQ(out.find("master"), std::string::npos) << out;
}

TEST_F(TandrelTest, SkinLabelsReplaceHelpTexts) {
    ASSERT_EQ(mkdir(path("skins").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(path("skins/default").c_str(), 0755), 0);
    std::ofstream(path("skins/default/ui.xml"))
        << "<ui><STRINGS><helpQ label=\"q - leave\"/><helpCommand label=\"Words:\"/></STRINGS></ui>";
    EXPECT_EQ(runWith({}, "?\n"), 0);
    EXPECT_TRUE(in_order(process_.out(), {"Words:\n", "name [desired name]", "q - leave\n", "verbose (-)"}));
    EXPECT_EQ(process_.out().find("q\n\tQuit"), std::string::npos);
}

// The option "uiPath" names the skin: its texts are in force before the
// command table takes its help texts.
TEST_F(TandrelTest, SkinNamedByUiPathGivesTheHelpTexts) {
    ASSERT_EQ(mkdir(path("mine").c_str(), 0755), 0);
    std::ofstream(path("mine/ui.xml")) << "<ui><STRINGS><helpQ label=\"q - leave\"/></STRINGS></ui>";
    {
        support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
        CoreOptions options;
        options.loadFrom(dir_.c_str());
        options.setStringOption(kOptUiPath, path("mine/").c_str());
        ASSERT_TRUE(options.save());
    }
    EXPECT_EQ(runWith({}, "?\n"), 0);
    EXPECT_TRUE(in_order(process_.out(), {"name [desired name]", "q - leave\n", "verbose (-)"}));
    EXPECT_EQ(process_.out().find("q\n\tQuit"), std::string::npos);
}

TEST_F(TandrelTest, WordsAreMatchedExactlyAndSplitAtDelimiters) {
    EXPECT_EQ(runWith({}, "\n , \t\nExit\nexit\nmaster x\nExit\nmaster -\nexit\nmaster\nmcon,7\nmcon\n"
                          "mcon \"8\"\nmcon\n"),
              0);
    EXPECT_TRUE(in_order(process_.out(), {kUnknown, kUnknown, kUnknown, kUnknown, "Master mode on.\n",
                                          kUnknown, "Master mode off.\n", kUnknown, "Master mode on.\n",
                                          "Done.\n", "7\n", "Done.\n", "8\n"}));
}

TEST_F(TandrelTest, UploadLimitBoundsTheDownloadLimit) {
    struct Case {
        const char* command;
        const char* shown;
    };
    const Case cases[] = {
        {"dumax 10 2", "d/u: 6.00/2.00"},     {"dumax 20 4", "d/u: 12.00/4.00"},
        {"dumax 20 7", "d/u: 20.00/7.00"},    {"dumax 50 8", "d/u: 32.00/8.00"},
        {"dumax 0 3", "d/u: 9.00/3.00"},      {"dumax 100 12", "d/u: 100.00/12.00"},
        {"dumax 5 1000000", "d/u: 5.00/0.00"}, {"dumax 10.5 0", "d/u: 10.50/0.00"},
        {"dumax -1 2", "d/u: 10.50/0.00"},    {"dumax 3 x", "d/u: 10.50/0.00"},
    };
    std::string input;
    for (const Case& c : cases) input += std::string(c.command) + "\ndumax 7\n";
    EXPECT_EQ(runWith({}, input), 0);
    std::vector<std::string> expected;
    for (const Case& c : cases) expected.push_back(std::string(c.shown) + "\n");
    EXPECT_TRUE(in_order(process_.out(), expected));
    // Refused values print the usage text.
    EXPECT_TRUE(in_order(process_.out(), {"d/u: 5.00/0.00", "dumax # #\n", "dumax # #\n"}));
}

TEST_F(TandrelTest, OptionsPersistThroughRestart) {
    // The longest name the options keep.
    std::string longName(kNicknameMax, 'n');
    longName[kNicknameMax - 1] = 'L';
    EXPECT_EQ(runWith({}, "name " + longName + "\nmcon 50x\nmcon 0\nmcon 60\nline 12.5\nline x\nlines 0\n"
                          "lines -3\nlines 30\nverbose x\nverbose -\nq\ny\n"),
              0);
    EXPECT_TRUE(in_order(process_.out(), {"ok.\n", "mcon #\n", "mcon #\n", "Done.\n", "Done.\n", "line #\n",
                                          "lines #\n", "lines #\n", "set.\n", "Verbose mode on.\n",
                                          "Verbose mode off.\n"}));

    TandrelProcess second;
    ASSERT_TRUE(second.start(dir_, {}, TandrelProcess::Mode::kPipes));
    second.write("name\nmcon\nline\nlines\n");
    second.closeInput();
    ASSERT_TRUE(second.waitExit(20000));
    EXPECT_EQ(second.status(), 0);
    EXPECT_TRUE(in_order(second.out(), {"> " + longName + "\n", "> 60\n", "> 12\n", "> 30\n"}));
}

TEST_F(TandrelTest, TextsLongerThanPrefsKeepAreRefusedAndPrefsStayUnchanged) {
    const std::string name64(kNicknameMax, 'n');
    const std::string text128(128, 'p');
    EXPECT_EQ(runWith({}, "name " + name64 + "\npass tam " + text128 + "\nq\ny\n"), 0);
    const std::string before = readFile("pref.met");
    ASSERT_NE(before.find(text128), std::string::npos);

    const std::string longDir = dir_ + "/" + std::string(130, 'd');
    TandrelProcess second;
    ASSERT_TRUE(second.start(dir_, {}, TandrelProcess::Mode::kPipes));
    second.write("name " + name64 + "x\npass tam " + text128 + "x\npass " + text128 + "x pw\nin " + longDir +
                 "\ntemp " + longDir + "\nname\nq\ny\n");
    second.closeInput();
    ASSERT_TRUE(second.waitExit(20000));
    EXPECT_EQ(second.status(), 0);
    EXPECT_TRUE(in_order(second.out(), {"Too long: the name takes at most 64 characters; nothing changed.\n",
                                          "Too long: the password takes at most 128 characters; nothing changed.\n",
                                          "Too long: the admin name takes at most 128 characters; nothing changed.\n",
                                          "Too long: the directory takes at most 128 characters; nothing changed.\n",
                                          "Too long: the directory takes at most 128 characters; nothing changed.\n",
                                          "> " + name64 + "\n"}));
    EXPECT_EQ(second.out().find("ok."), std::string::npos);
    EXPECT_FALSE(exists(std::string(130, 'd')));
    EXPECT_EQ(readFile("pref.met"), before);
}

TEST_F(TandrelTest, AmountsBeyondSinglePrecisionAreRefused) {
    EXPECT_EQ(runWith({}, "line 1e39\nline\nline 3e9\nline\ndumax 1e39 1\ndumax\n"), 0);
    EXPECT_TRUE(in_order(process_.out(), {"line #\n", "> 0\n", "Done.\n", "> 2147483647\n", "dumax # #\n",
                                          "d/u: 0.00/0.00\n"}));
}

TEST_F(TandrelTest, NameKeepsSpacesAndMayBeEmpty) {
    EXPECT_EQ(runWith({}, "name two words\nname\nname \nname\n"), 0);
    EXPECT_TRUE(in_order(process_.out(), {"ok.\n", "> two words\n", "ok.\n", "> \n"}));
}

TEST_F(TandrelTest, EchoPrintsTheRestOfItsLineUnchanged) {
    EXPECT_EQ(runWith({}, "echo hello world\necho,hi\necho 100% %s %d\necho\necho \necho  two\n"), 0);
    EXPECT_TRUE(in_order(process_.out(), {"> hello world\n", "> hi\n", "> 100% %s %d\n", "> > > ", " two\n"}));
}

TEST_F(TandrelTest, OverlongLineIsRefusedWhole) {
    std::string huge = "echo " + std::string(70000, 'z');
    EXPECT_EQ(runWith({}, huge + "\necho after\n"), 0);
    EXPECT_NE(process_.out().find("Line too long"), std::string::npos);
    EXPECT_EQ(process_.out().find("zzzz"), std::string::npos);
    EXPECT_TRUE(in_order(process_.out(), {"Line too long", "after\n"}));
}
