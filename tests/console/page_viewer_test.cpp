#include "console/ui/page_viewer.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/ui_capture.h"

namespace {

// Keys of the page prompt, one per read; -1 once they run out.
class ScriptedKeys : public PageViewer::KeySource {
public:
    ScriptedKeys(std::string keys, bool terminal) : keys_(std::move(keys)), terminal_(terminal) {}
    int readKey() override {
        ++reads;
        if (next_ >= keys_.size()) return -1;
        return static_cast<unsigned char>(keys_[next_++]);
    }
    bool isTerminal() override { return terminal_; }
    int reads = 0;

private:
    std::string keys_;
    size_t next_ = 0;
    bool terminal_;
};

std::string numbered(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

const std::string kPrompt = std::string(PageViewer::kPagePrompt) + "\n";

class PageViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui.setPageSink(&pager);
        pager.setCollecting(true);
    }
    void TearDown() override { ui.setPageSink(nullptr); }

    // A listing of n printed lines.
    void list(int n) {
        pager.begin();
        for (int i = 1; i <= n; ++i) ui.print("line %d", i);
    }

    support::CaptureUI ui;
    PageViewer pager;
};

}  // namespace

TEST_F(PageViewerTest, PagesOnATerminal) {
    struct Case {
        const char* name;
        int lines;
        int perPage;
        std::string keys;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"one line more than a page", 25, 24, " ", numbered(1, 24) + kPrompt + numbered(25, 25)},
        {"exactly one page", 24, 24, "", numbered(1, 24)},
        {"other keys ignored", 5, 2, "x\n  ", numbered(1, 2) + kPrompt + numbered(3, 4) + kPrompt + numbered(5, 5)},
        {"q ends", 25, 24, "q", numbered(1, 24) + kPrompt},
        {"Q ends", 7, 3, " Q", numbered(1, 3) + kPrompt + numbered(4, 6) + kPrompt},
        {"end of input ends", 25, 24, "", numbered(1, 24) + kPrompt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui.clear();
        pager.setLinesPerPage(c.perPage);
        list(c.lines);
        EXPECT_EQ(ui.text(), "");  // collected, not printed
        ScriptedKeys keys(c.keys, true);
        pager.show(&ui, &keys);
        EXPECT_EQ(ui.text(), c.shown);
        EXPECT_FALSE(pager.isArmed());
    }
}

TEST_F(PageViewerTest, FullPagerShowsTheMarkerAfterTheFirstThousandLines) {
    list(1200);
    ScriptedKeys keys("", false);
    pager.show(&ui, &keys);
    EXPECT_EQ(ui.text(), numbered(1, 1000) + PageViewer::kFullMarker + "\n");
    EXPECT_EQ(keys.reads, 0);
}

TEST_F(PageViewerTest, WithoutTerminalEverythingIsPrintedAtOnce) {
    pager.setLinesPerPage(3);
    list(10);
    ScriptedKeys keys("q", false);
    pager.show(&ui, &keys);
    EXPECT_EQ(ui.text(), numbered(1, 10));
    EXPECT_EQ(keys.reads, 0);
}

TEST_F(PageViewerTest, OnlyAnOpenCollectionArmsThePager) {
    pager.setCollecting(false);
    list(2);
    EXPECT_EQ(ui.text(), numbered(1, 2));
    EXPECT_FALSE(pager.isArmed());

    // A new listing drops what an earlier one left unseen; printing after
    // show goes straight out again.
    pager.setCollecting(true);
    list(2);
    list(1);
    ui.clear();
    // Another thread's lines are not the listing's.
    std::thread other([this] { ui.print("elsewhere"); });
    other.join();
    EXPECT_EQ(ui.text(), "elsewhere\n");
    ui.clear();
    ScriptedKeys keys("", true);
    pager.show(&ui, &keys);
    ui.print("after");
    EXPECT_EQ(ui.text(), numbered(1, 1) + "after\n");
}

TEST_F(PageViewerTest, PageLengthBelowOneIsRefused) {
    EXPECT_EQ(pager.linesPerPage(), PageViewer::kDefaultLinesPerPage);
    pager.setLinesPerPage(0);
    pager.setLinesPerPage(-5);
    EXPECT_EQ(pager.linesPerPage(), PageViewer::kDefaultLinesPerPage);
    pager.setLinesPerPage(1);
    EXPECT_EQ(pager.linesPerPage(), 1);
}
