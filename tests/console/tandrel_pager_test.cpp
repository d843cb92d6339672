// Paging of a listing when the console is a terminal.
#include "console/tandrel_process_fixture.h"

namespace {

constexpr const char* kPagePrompt = "press space bar for next page, 'q' to quit";
constexpr int kWaitMs = 20000;
// How long one page may take to show before the next space is typed.
constexpr int kPageWaitMs = 1000;

}  // namespace

TEST_F(TandrelTest, HelpIsPagedOnATerminal) {
    TandrelProcess& p = process_;
    ASSERT_TRUE(p.start(dir_, {}, TandrelProcess::Mode::kTerminal));
    ASSERT_TRUE(p.waitFor("> ", kWaitMs));
    // The start-up hashing prints nothing into the pages to come.
    ASSERT_TRUE(p.waitForRaw("Done loading shared files.", kWaitMs));
    // The help lists a heading and more than 10 entries, the last one
    // "Print help".
    p.write("lines 10\n");
    ASSERT_TRUE(p.waitFor("set.", kWaitMs));
    size_t mark = p.out().size();
    p.write("?\n");
    ASSERT_TRUE(p.waitFor(kPagePrompt, kWaitMs, mark));
    EXPECT_NE(p.out().find("echo\r\n\tEcho", mark), std::string::npos);
    EXPECT_EQ(p.out().find("Print help", mark), std::string::npos);
    // Other keys are ignored, each space shows the next page.
    p.write("x");
    bool shown = false;
    for (int page = 0; page < 20 && !shown; page++) {
        p.write(" ");
        shown = p.waitFor("Print help", kPageWaitMs, mark);
    }
    ASSERT_TRUE(shown);

    // 'Q' ends the listing.
    mark = p.out().size();
    p.write("?\n");
    ASSERT_TRUE(p.waitFor(kPagePrompt, kWaitMs, mark));
    p.write("Q");
    ASSERT_TRUE(p.waitFor("> ", kWaitMs, p.out().find(kPagePrompt, mark)));
    p.write("echo done\n");
    ASSERT_TRUE(p.waitFor("done", kWaitMs, mark));
    EXPECT_EQ(p.out().find("Print help", mark), std::string::npos);

    // A page longer than the listing needs no prompt.
    p.write("lines 100\n");
    ASSERT_TRUE(p.waitFor("set.", kWaitMs, mark));
    mark = p.out().size();
    p.write("?\n");
    ASSERT_TRUE(p.waitFor("Print help", kWaitMs, mark));
    EXPECT_EQ(p.out().find(kPagePrompt, mark), std::string::npos);

    p.write("q\ny\n");
    ASSERT_TRUE(p.waitExit(kWaitMs));
    EXPECT_EQ(p.status(), 0);
}

TEST_F(TandrelTest, EndOfInputAtThePagePromptCountsAsQuit) {
    TandrelProcess& p = process_;
    ASSERT_TRUE(p.start(dir_, {}, TandrelProcess::Mode::kTerminal));
    ASSERT_TRUE(p.waitFor("> ", kWaitMs));
    ASSERT_TRUE(p.waitForRaw("Done loading shared files.", kWaitMs));
    p.write("lines 2\n");
    ASSERT_TRUE(p.waitFor("set.", kWaitMs));
    size_t mark = p.out().size();
    p.write("?\n");
    ASSERT_TRUE(p.waitFor(kPagePrompt, kWaitMs, mark));
    // Ctrl-D at the key prompt is a key, not the end: 'q' then ends the
    // listing and Ctrl-D at the line prompt ends the input.
    p.write("q");
    ASSERT_TRUE(p.waitFor("> ", kWaitMs, p.out().find(kPagePrompt, mark)));
    p.write("\x04");
    ASSERT_TRUE(p.waitExit(kWaitMs));
    EXPECT_EQ(p.status(), 0);
    EXPECT_TRUE(exists("pref.met"));
}
