// Paging of a listing when the console is a terminal.
#include <string>

#include "console/cli/flock_clc.h"
#include "console/tandrel_process_fixture.h"
#include "v4ada/containers/ll.h"

namespace {

constexpr const char* kPagePrompt = "press space bar for next page, 'q' to quit";
constexpr int kWaitMs = 20000;
constexpr int kLinesPerPage = 10;

// What the help lists: the heading and one entry per public word with a
// help text, as the command table has them.
int help_entries() {
    FlockCLC table(-1);
    int entries = 1;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&table.publicCommands(), &cursor))
        if (!static_cast<Command*>(element)->help.isEmpty()) entries++;
    return entries;
}

}  // namespace

TEST_F(TandrelTest, HelpIsPagedOnATerminal) {
    // Page after page of kLinesPerPage entries, each but the last ended by
    // the prompt.
    const int entries = help_entries();
    const int prompts = (entries - 1) / kLinesPerPage;
    ASSERT_GE(prompts, 1) << "the help fits one page of " << kLinesPerPage;

    TandrelProcess& p = process_;
    ASSERT_TRUE(p.start(dir_, {}, TandrelProcess::Mode::kTerminal));
    ASSERT_TRUE(p.waitFor("> ", kWaitMs));
    // The start-up hashing prints nothing into the pages to come.
    ASSERT_TRUE(p.waitForRaw("Done loading shared files.", kWaitMs));
    p.write("lines " + std::to_string(kLinesPerPage) + "\n");
    ASSERT_TRUE(p.waitFor("set.", kWaitMs));
    size_t mark = p.out().size();
    p.write("?\n");
    ASSERT_TRUE(p.waitFor(kPagePrompt, kWaitMs, mark));
    EXPECT_NE(p.out().find("echo\r\n\tEcho", mark), std::string::npos);
    // Other keys are ignored, each space shows the next page.
    p.write("x");
    size_t prompt = p.out().find(kPagePrompt, mark);
    for (int page = 1; page < prompts; page++) {
        p.write(" ");
        ASSERT_TRUE(p.waitFor(kPagePrompt, kWaitMs, prompt + 1)) << "page " << page;
        prompt = p.out().find(kPagePrompt, prompt + 1);
    }
    EXPECT_EQ(p.out().find("Print help", mark), std::string::npos);
    p.write(" ");
    ASSERT_TRUE(p.waitFor("Print help", kWaitMs, prompt));
    ASSERT_TRUE(p.waitFor("> ", kWaitMs, p.out().find("Print help", prompt)));
    EXPECT_EQ(p.out().find(kPagePrompt, prompt + 1), std::string::npos);

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
    p.write("lines " + std::to_string(entries) + "\n");
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
