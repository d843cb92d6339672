// The master commands that test the client and measure the overlay, typed
// through a pipe into a real instance: the self tests with their header
// lines and verdict, and the overlay measurements starting, dumping to
// log.txt and leaving with a clean shutdown.
#include <algorithm>
#include <regex>

#include "console/tandrel_process_fixture.h"

namespace {

constexpr const char* kSortedStrings = "aaabbbbcdeeeeeefg";

int occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) count++;
    return count;
}

TEST_F(TandrelTest, SelfTestsPassWithTheirHeaderLines) {
    EXPECT_EQ(runWith({}, "test\nmaster\ntest\n"), 0);
    const std::string& out = process_.out();
    EXPECT_TRUE(in_order(out, {"Unrecognized command", "Master mode on.\n", " HashTable32 test:\n",
                               " i4_strtok test:\n", " stristr test:\n", " BoolArray test:\n", " LL test:\n",
                               std::string(kSortedStrings) + "\n"}));
    // The four lines of the string list: as built, shuffled twice, sorted.
    std::smatch lists;
    ASSERT_TRUE(std::regex_search(out, lists, std::regex(" LL test:\n([a-g]{17})\n([a-g]{17})\n([a-g]{17})\n([a-g]{17})\n")))
        << out;
    for (int i = 1; i <= 4; i++) {
        std::string letters = lists[i].str();
        std::sort(letters.begin(), letters.end());
        EXPECT_EQ(letters, kSortedStrings) << "line " << i;
    }
    EXPECT_EQ(lists[4].str(), kSortedStrings);
    EXPECT_TRUE(in_order(out, {" ListIterator test:\n", " UniqueID test:\n", " TransferTest test:\n",
                               " TransferTest::testFileSource()\n", "test.file\n", "\ttest1\n", "\ttest2\n", "go.\n"}));
    EXPECT_EQ(out.find("ERRORS"), std::string::npos) << out;
    EXPECT_EQ(process_.err().find("Sanitizer"), std::string::npos) << process_.err();
}

TEST_F(TandrelTest, OverlayMeasurementsStartAndDump) {
    EXPECT_EQ(runWith({}, "master\ntestRouter abc 1\ntestRouter abc 1 2\ntestRouter\ncollect\ncollect\ntestDrop\n"
                          "testDrop\ntestCloser\ntestCloser\n"),
              0);
    const std::string& out = process_.out();
    // MD4 of "abc" (RFC 1320).
    EXPECT_TRUE(in_order(out, {"Master mode on.\n", "router test will search for a448017aaf21d8525fc10ae87aa6729d\n",
                               "started router test.\n", "dumping router test\n\n", "start collecting stats\n\n",
                               "start publish test\n\n",
                               "Dumping publish test (25 trackers at 600 sec intervals)...\n\n", "done.\n",
                               "start closer test\n\n", "Dumping closer test\n\n"}));
    EXPECT_EQ(occurrences(out, "router test will search"), 1) << "a missing port starts nothing";
    EXPECT_EQ(occurrences(out, "start collecting stats"), 1);
    EXPECT_EQ(out.find("Unrecognized"), std::string::npos) << out;

    const std::string log = readFile("log.txt");
    EXPECT_TRUE(in_order(log, {"]: router dump\n", "]: Dumping PublishTester (25 trackers at 600 sec intervals) ...\n",
                               "]: (1) SID: ", "]: SID 1, 2\n", "]: (25) SID: ", "]: SID 25, 2\n",
                               "]: ************ Dumping CloserTester ***********\n",
                               "]: ********* Done Dumping CloserTester *********\n"}))
        << log;
    EXPECT_EQ(process_.err().find("Sanitizer"), std::string::npos) << process_.err();
}

}  // namespace
