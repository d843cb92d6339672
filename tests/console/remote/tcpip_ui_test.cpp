// The remote user interface: what reaches the console and what the
// attached controller gets.
#include "console/remote/tcpip_ui.h"

#include <gtest/gtest.h>

#include "support/ui_capture.h"
#include "console/remote/controller_opcodes.h"
#include "console/remote/flock_tcp_ui.h"
#include "overlay/index/service.h"
#include "console/remote/remote_fixture.h"
#include "core/task/task_thread.h"
#include "transfer/uploads/upload_slot.h"

using namespace remotetest;

namespace {

struct RecordingTransfer : TransferUI {
    void uploadSlotRemoved(UploadSlot*) override { calls.push_back("slotRemoved"); }
    void uploadSlotChanged(UploadSlot*) override { calls.push_back("slotChanged"); }
    void friendsChanged() override { calls.push_back("friends"); }
    void setStatus(const char* text) override { calls.push_back(std::string("status:") + text); }
    void downloadRemoved(Download*) override { calls.push_back("downloadRemoved"); }
    std::vector<std::string> calls;
};

class TcpipUITest : public ::testing::Test {
protected:
    TcpipUITest() : remote_(&console_, nullptr, &transfer_), controller_(&remote_, &tasks_) {}

    // Attaches the controller and forgets its initial state.
    void attach() {
        ASSERT_TRUE(remote_.setController(&controller_));
        ASSERT_FALSE(controller_.frames.empty());
        EXPECT_EQ(controller_.frames[0].opcode, IGUI_CLIENT_STATUS);
        controller_.frames.clear();
    }

    support::CaptureUI console_;
    RecordingTransfer transfer_;
    TaskThread tasks_;
    TcpipUI remote_;
    RecordingController controller_;
};

}  // namespace

TEST_F(TcpipUITest, WithoutControllerEverythingGoesToTheConsole) {
    remote_.print("%s and %d", "one", 2);
    remote_.printRaw("raw %s\n", "two");
    remote_.debug("hidden\n");
    remote_.setVerbose(true);
    EXPECT_TRUE(console_.isVerbose());
    remote_.debug("shown %d\n", 3);
    remote_.printFlush("> ");
    EXPECT_EQ(console_.text(), "one and 2\nraw two\nshown 3\n> ");
    EXPECT_TRUE(controller_.frames.empty());
}

TEST_F(TcpipUITest, WithControllerPrintsAreMirroredAndRawPrintsGoOnlyThere) {
    attach();
    remote_.print("%s", "100% sure");
    remote_.printRaw("%s", "an error\n");
    ASSERT_EQ(controller_.frames.size(), 2u);
    EXPECT_EQ(controller_.frames[0].opcode, IGUI_CONSOLE_TEXT);
    EXPECT_EQ(controller_.frames[0].payload, str("100% sure"));
    EXPECT_EQ(controller_.frames[1].opcode, IGUI_ERROR_TEXT);
    EXPECT_EQ(controller_.frames[1].payload, str("an error\n"));
    EXPECT_EQ(console_.text(), "100% sure\n");

    // Texts are cut after formatting: 1023 characters for prints, 255 for
    // flushed ones.
    console_.clear();
    const std::string longText(2000, 'x');
    remote_.print("%s", longText.c_str());
    EXPECT_EQ(controller_.frames.back().payload, str(longText.substr(0, TcpipUI::kPrintTextMax)));
    EXPECT_EQ(console_.text(), longText.substr(0, TcpipUI::kPrintTextMax) + "\n");
    console_.clear();
    remote_.printFlush("%s", longText.c_str());
    EXPECT_EQ(console_.text(), longText.substr(0, TcpipUI::kFlushTextMax));
    EXPECT_EQ(controller_.frames.size(), 3u);  // flushed prompts stay at the console
}

TEST_F(TcpipUITest, OneControllerAtATimeUntilItIsGone) {
    attach();
    RecordingController second(&remote_, &tasks_);
    EXPECT_FALSE(remote_.setController(&second));
    remote_.controllerGone(&second);  // not the attached one: nothing changes
    EXPECT_TRUE(remote_.hasController());
    remote_.controllerGone(&controller_);
    EXPECT_FALSE(remote_.hasController());
    remote_.print("after");
    EXPECT_TRUE(controller_.frames.empty());
    EXPECT_TRUE(second.frames.empty());
    EXPECT_TRUE(remote_.setController(&second));
}

TEST_F(TcpipUITest, TransferNoticesGoToTheControllerOrElseTheConsole) {
    UploadSlot slotA(nullptr), slotB(nullptr);
    remote_.setStatus("hashing a.mp3");
    remote_.friendsChanged();
    remote_.uploadSlotChanged(&slotA);
    remote_.uploadSlotRemoved(&slotA);
    EXPECT_EQ(transfer_.calls,
              (std::vector<std::string>{"status:hashing a.mp3", "friends", "slotChanged", "slotRemoved"}));
    EXPECT_TRUE(controller_.frames.empty());

    transfer_.calls.clear();
    attach();
    remote_.setStatus("None.");
    remote_.friendsChanged();
    remote_.uploadSlotChanged(&slotB);
    const uint32_t idB = remote_.handles()->find(&slotB);
    EXPECT_NE(idB, 0u);
    remote_.uploadSlotChanged(&slotB);
    remote_.uploadSlotRemoved(&slotB);
    EXPECT_TRUE(transfer_.calls.empty());
    ASSERT_EQ(controller_.frames.size(), 5u);
    EXPECT_EQ(controller_.frames[0].opcode, IGUI_STATUS_TEXT);
    EXPECT_EQ(controller_.frames[0].payload, str("None."));
    EXPECT_EQ(controller_.frames[1].opcode, IGUI_FRIENDS_CHANGED);
    EXPECT_EQ(controller_.frames[1].payload, "");
    // An empty slot: its id, no file name, an empty user, a zero hash;
    // the same id while the slot lives.
    EXPECT_EQ(controller_.frames[2].opcode, IGUI_UPLOAD_SLOT);
    EXPECT_EQ(controller_.frames[2].payload, controller_.frames[3].payload);
    EXPECT_EQ(controller_.frames[2].payload.substr(0, 6), le32(idB) + str(""));
    EXPECT_EQ(controller_.frames[4].opcode, IGUI_UPLOAD_SLOT_REMOVED);
    EXPECT_EQ(controller_.frames[4].payload, le32(idB));
    // Removed objects leave the table with or without a controller.
    EXPECT_EQ(remote_.handles()->count(), 0);
}

TEST(FlockTcpUI, SearchResultsGoToTheControllerOnlyWhileAttached) {
    struct ConsoleResults : FlockUI {
        void searchResult(Service*) override { count++; }
        int count = 0;
    } consoleFlock;
    support::CaptureUI console;
    TaskThread tasks;
    FlockTcpUI remote(&console, nullptr, nullptr, &consoleFlock, nullptr, 0);  // no door
    Service result;
    result.descId.randomize();
    remote.searchResult(&result);
    EXPECT_EQ(consoleFlock.count, 1);
    EXPECT_EQ(remote.resultCount(), 0);

    RecordingController controller(&remote, &tasks);
    ASSERT_TRUE(remote.setController(&controller));
    controller.frames.clear();
    // Every result is sent; a download record is kept once per file hash,
    // at most kMostResults of them.
    remote.searchResult(&result);
    remote.searchResult(&result);
    for (int i = 0; i < TcpipUI::kMostResults + 5; i++) {
        result.descId.randomize();
        remote.searchResult(&result);
    }
    EXPECT_EQ(consoleFlock.count, 1);
    EXPECT_EQ(controller.frames.size(), static_cast<size_t>(TcpipUI::kMostResults + 7));
    EXPECT_EQ(controller.frames[0].opcode, IGUI_SEARCH_RESULT);
    EXPECT_EQ(remote.resultCount(), TcpipUI::kMostResults);
    EXPECT_FALSE(remote.findResult(result.descId));  // the last ones were not kept

    // The controller leaves: the results go, the console gets them again.
    remote.controllerGone(&controller);
    EXPECT_EQ(remote.resultCount(), 0);
    remote.searchResult(&result);
    EXPECT_EQ(consoleFlock.count, 2);
}

TEST(TcpipUI, TakesTheConsoleLogPathAndVerboseFlag) {
    support::CaptureUI console;
    console.setLogPath("/tmp/somewhere/log.txt");
    console.setVerbose(true);
    TcpipUI remote(&console, nullptr, nullptr);
    EXPECT_STREQ(remote.logPath().c_str(), "/tmp/somewhere/log.txt");
    EXPECT_TRUE(remote.isVerbose());
}
