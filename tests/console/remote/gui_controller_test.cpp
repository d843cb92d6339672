// The controller connection: login, dispatch, the status task, the byte
// budgets and the unsent-output limit. Frames are fed straight to the
// handlers; what the controller sends is recorded.
#include "console/remote/gui_controller.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/ui_capture.h"
#include "console/cli/servant.h"
#include "console/remote/admin_settings.h"
#include "console/remote/controller_frames.h"
#include "console/remote/controller_opcodes.h"
#include "console/remote/remote_fixture.h"
#include "console/remote/tcpip_ui.h"
#include "core/bus/message_q.h"
#include "core/net/budgets.h"
#include "core/net/door_lobby.h"
#include "core/task/task_thread.h"
#include "overlay/index/service.h"
#include "core/search/search_node.h"
#include "overlay/index/service_search.h"
#include "support/bytes.h"
#include "support/memory_files.h"
#include "support/process_objects.h"
#include "v4ada/digest/md4.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/error/error.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/time/clock_source.h"

using namespace remotetest;

namespace {

std::string hexOf(const UniqueID& id) {
    char* hex = id.toHex();
    std::string text(hex);
    i4_free(hex);
    return text;
}

// Takes the bus messages of the codes it registers for, as text:
// "<code>:<line>" for a command line, "<code>:<keyword>:<filter tree>"
// for a search (whose key must be the keyword's MD4), "<code>:<file hash>:
// <tag x>" for a download record.
struct BusRecorder : MessageHandler {
    void handle(Message* message) override {
        std::string text;
        if (message->code == MSG_COMMAND_LINE) {
            auto line = static_cast<OwnedString*>(message->data);
            text = line->c_str();
            delete line;
        } else if (message->code == MSG_SEARCH) {
            auto search = static_cast<ServiceSearch*>(message->data);
            text = search->keyword().c_str();
            UniqueID key;
            md4String(key.bytes(), text.c_str());
            EXPECT_TRUE(search->key.equals(key)) << text;
            EXPECT_EQ(search->start, 0);
            EXPECT_EQ(search->max, kServiceSearchDefaultMax);
            support::ByteWriter tree;
            if (search->root()) search->root()->toNetwork(tree.file());
            text += ":" + support::as_text(tree.bytes());
            delete search;
        } else if (message->code == MSG_START_DOWNLOAD) {
            auto record = static_cast<FileMeta*>(message->data);
            const char* x = record->textOf("x");
            text = hexOf(record->fileHash()) + ":" + (x ? x : "");
            delete record;
        }
        seen.push_back(std::to_string(message->code) + (text.empty() ? "" : ":" + text));
    }
    std::vector<std::string> seen;
};

// Search trees in their wire form.
std::string findText(const std::string& text) { return "\x01" + str(text); }
std::string textTag(const std::string& text, const std::string& tag) { return "\x02" + str(text) + str(tag); }
std::string both(const std::string& left, const std::string& right) { return std::string("\0\0", 2) + left + right; }

class ControllerTest : public ::testing::Test {
protected:
    ControllerTest() : remote_(&console_, nullptr, nullptr) {
        adminSettings()->setLogin("u", "p");
        for (int code : {MSG_COMMAND_LINE, MSG_SEARCH_VIA_NODE, MSG_SEARCH, MSG_START_DOWNLOAD})
            messageQ->setHandler(&bus_, code);
        consoleServant.store(&servant_);
    }
    ~ControllerTest() override {
        consoleServant.store(nullptr);
    }

    // Hands every posted message to the recorder.
    void drainBus() {
        while (messageQ->tick(0)) {
        }
    }

    support::CaptureUI console_;
    TaskThread tasks_;
    TcpipUI remote_;
    BusRecorder bus_;
    Servant servant_;
    support::ProcessObjects process_{support::ProcessObjects::kBus | support::ProcessObjects::kAdminSettings};
};

}  // namespace

TEST_F(ControllerTest, LoginTable) {
    struct Case {
        const char* name;
        uint8_t opcode;
        std::string payload;
        bool accepted;
        const char* console;
    };
    const Case cases[] = {
        {"good", IGUI_LOGIN, str("u") + str("p"), true, ""},
        {"wrong password", IGUI_LOGIN, str("u") + str("x"), false, "Invalid name and pass\n"},
        {"empty texts", IGUI_LOGIN, str("") + str(""), false, "Invalid name and pass\n"},
        {"another opcode first", IGUI_GET_STATUS, "", false, ""},
        {"command first", IGUI_COMMAND, str("q"), false, ""},
    };
    for (const Case& c : cases) {
        console_.clear();
        RecordingController controller(&remote_, &tasks_);
        // Accepted by a door: it waits in the door's lobby until logged in.
        auto lobby = std::make_shared<DoorLobby>();
        controller.lobbySeat().take(lobby, &controller, 1);
        EXPECT_EQ(controller.feed(c.opcode, c.payload), c.accepted) << c.name;
        EXPECT_EQ(controller.loggedIn(), c.accepted) << c.name;
        EXPECT_EQ(lobby->waiting(), c.accepted ? 0 : 1) << c.name;
        EXPECT_EQ(remote_.hasController(), c.accepted) << c.name;
        EXPECT_EQ(console_.text(), c.console) << c.name;
        // A login is answered with the client status first; a refusal with
        // nothing.
        ASSERT_EQ(controller.frames.size(), c.accepted ? 1u : 0u) << c.name;
        if (c.accepted) {
            const std::string& status = controller.frames[0].payload;
            EXPECT_EQ(controller.frames[0].opcode, IGUI_CLIENT_STATUS);
            EXPECT_EQ(status.substr(0, 2), le16(1050));
            EXPECT_EQ(status.substr(status.size() - 4), le32(static_cast<uint32_t>(getpid())));
        }
    }
    EXPECT_FALSE(remote_.hasController());  // each one left with its object
    drainBus();
    EXPECT_TRUE(bus_.seen.empty());
    EXPECT_TRUE(servant_.keepRunning());

    // A login frame cut short raises, which drops the connection.
    RecordingController shortLogin(&remote_, &tasks_);
    EXPECT_THROW(shortLogin.feed(IGUI_LOGIN, str("u") + le16(5) + "p"), i4_err);

    // With the settings cleared no login gets through.
    adminSettings()->setLogin("", "");
    RecordingController refused(&remote_, &tasks_);
    EXPECT_FALSE(refused.feed(IGUI_LOGIN, str("") + str("")));
}

TEST_F(ControllerTest, SecondControllerIsRefusedWithoutAFrame) {
    // In remote mode the remote interface is the current gateway.
    setCurrentUI(&remote_);
    RecordingController first(&remote_, &tasks_);
    ASSERT_TRUE(first.feed(IGUI_LOGIN, str("u") + str("p")));
    console_.clear();
    RecordingController second(&remote_, &tasks_);
    EXPECT_FALSE(second.feed(IGUI_LOGIN, str("u") + str("p")));
    EXPECT_TRUE(second.frames.empty());
    // The console shows the refusal, and so does the attached controller.
    EXPECT_EQ(console_.text(), "Another Control attempt\n");
    ASSERT_EQ(first.frames.size(), 2u);  // the client status, then the text
    EXPECT_EQ(first.frames[1].opcode, IGUI_CONSOLE_TEXT);
    EXPECT_EQ(first.frames[1].payload, str("Another Control attempt"));
    setCurrentUI(&console_);
}

TEST_F(ControllerTest, DispatchOfTheHandledOpcodes) {
    RecordingController controller(&remote_, &tasks_);
    ASSERT_TRUE(controller.feed(IGUI_LOGIN, str("u") + str("p")));
    ASSERT_EQ(controller.frames.size(), 1u);
    const std::string clientStatus = controller.frames[0].payload;
    controller.frames.clear();
    struct Case {
        uint8_t opcode;
        std::string payload;
        std::vector<std::string> posted;
    };
    const Case cases[] = {
        {IGUI_COMMAND, str("echo hello"), {"27:echo hello"}},
        {IGUI_QUERY_203, "", {}},
        {IGUI_QUERY_204, "", {"7"}},
        {IGUI_QUERY_205, std::string(1, '\x04') /* match-all tree */, {}},
        {IGUI_QUERY_206, "", {}},
        {IGUI_IGNORED_212, "anything", {}},
        {IGUI_IGNORED_214, "", {}},
        {IGUI_COUNT_ONLY, le16(3), {}},
        {250, "unknown opcode", {}},
        {IGUI_LOGIN, str("u") + str("p"), {}},  // after the first frame: unknown
    };
    for (const Case& c : cases) {
        bus_.seen.clear();
        EXPECT_TRUE(controller.feed(c.opcode, c.payload)) << int(c.opcode);
        drainBus();
        EXPECT_EQ(bus_.seen, c.posted) << int(c.opcode);
    }
    EXPECT_TRUE(controller.frames.empty());
    // 225 is answered with the client status.
    EXPECT_TRUE(controller.feed(IGUI_GET_STATUS, ""));
    ASSERT_EQ(controller.frames.size(), 1u);
    EXPECT_EQ(controller.frames[0].opcode, IGUI_CLIENT_STATUS);
    EXPECT_EQ(controller.frames[0].payload, clientStatus);
    EXPECT_TRUE(servant_.keepRunning());
    EXPECT_TRUE(controller.feed(IGUI_SHUTDOWN, ""));
    EXPECT_FALSE(servant_.keepRunning());

    // A payload shorter than its fields raises (the connection drops).
    for (uint8_t opcode : {IGUI_COMMAND, IGUI_COUNT_ONLY, IGUI_QUERY_205})
        EXPECT_THROW(controller.feed(opcode, "\x05"), i4_err) << int(opcode);
}

TEST_F(ControllerTest, SearchesTakeTheirKeywordFromTheTree) {
    RecordingController controller(&remote_, &tasks_);
    ASSERT_TRUE(controller.feed(IGUI_LOGIN, str("u") + str("p")));
    struct Case {
        const char* name;
        std::string tree;
        std::vector<std::string> posted;
    };
    const Case cases[] = {
        {"first word of a text", findText("Hello World"), {"5:hello:" + findText("world")}},
        {"a lone word leaves a match-all tree", findText("Tandem"), {"5:tandem:\x04"}},
        {"the leftmost text of an and", both(findText("song"), textTag("audio", "type")),
         {"5:song:" + textTag("audio", "type")}},
        {"keyword of two characters", findText("ab cdef"), {}},
        {"no text at all", "\x04", {}},
    };
    for (const Case& c : cases) {
        bus_.seen.clear();
        EXPECT_TRUE(controller.feed(IGUI_SEARCH, c.tree)) << c.name;
        drainBus();
        EXPECT_EQ(bus_.seen, c.posted) << c.name;
    }
    // A tree that does not read drops the connection.
    EXPECT_THROW(controller.feed(IGUI_SEARCH, "\x09"), i4_err);
    EXPECT_THROW(controller.feed(IGUI_SEARCH, findText("cut").substr(0, 3)), i4_err);
}

TEST_F(ControllerTest, DownloadResultStartsAKeptResult) {
    RecordingController controller(&remote_, &tasks_);
    ASSERT_TRUE(controller.feed(IGUI_LOGIN, str("u") + str("p")));
    controller.frames.clear();
    Service result;
    md4String(result.serviceId.bytes(), "song");
    result.descId.randomize();
    result.set("x", "tag copied", kTagString);
    EXPECT_TRUE(remote_.addResult(&result));
    ASSERT_EQ(controller.frames.size(), 1u);
    EXPECT_EQ(controller.frames[0].opcode, IGUI_SEARCH_RESULT);
    EXPECT_EQ(controller.frames[0].payload.substr(0, 36), support::as_text(support::id_bytes(result.serviceId)) +
                                                              support::as_text(support::id_bytes(result.descId)) +
                                                              le32(1));

    // 207 by the described file's hash starts a download of the result,
    // made as the console's d makes one.
    const std::string descId = support::as_text(support::id_bytes(result.descId));
    EXPECT_TRUE(controller.feed(IGUI_DOWNLOAD_RESULT, descId));
    EXPECT_TRUE(controller.feed(IGUI_DOWNLOAD_RESULT, std::string(16, '\x11')));
    drainBus();
    EXPECT_EQ(bus_.seen, (std::vector<std::string>{"10:" + hexOf(result.descId) + ":tag copied"}));
    // A new search empties the kept results.
    bus_.seen.clear();
    EXPECT_TRUE(controller.feed(IGUI_SEARCH, "\x04"));
    EXPECT_TRUE(controller.feed(IGUI_DOWNLOAD_RESULT, descId));
    drainBus();
    EXPECT_TRUE(bus_.seen.empty());
    EXPECT_THROW(controller.feed(IGUI_DOWNLOAD_RESULT, descId.substr(0, 15)), i4_err);
}

TEST_F(ControllerTest, StatusTaskListedWhilePushIsOn) {
    RecordingController controller(&remote_, &tasks_);
    ASSERT_TRUE(controller.feed(IGUI_LOGIN, str("u") + str("p")));
    struct Step {
        uint8_t opcode;
        bool listed;
    };
    const Step steps[] = {
        {IGUI_DOWNLOAD_STATUS_ON, true},  {IGUI_DOWNLOAD_STATUS_ON, true},    // twice keeps one
        {IGUI_DOWNLOAD_STATUS_OFF, false}, {IGUI_DOWNLOAD_STATUS_ON, true},
        {IGUI_UPLOAD_STATUS_ON, true},    {IGUI_DOWNLOAD_STATUS_OFF, true},   // uploads keep it
        {IGUI_UPLOAD_STATUS_OFF, false},
    };
    for (const Step& step : steps) {
        controller.feed(step.opcode, "");
        EXPECT_EQ(controller.statusTaskListed(), step.listed) << int(step.opcode);
    }
}

TEST_F(ControllerTest, ListedStatusTaskTicksWithTheTaskThread) {
    ManualClock clock;
    ScopedClockSource scope(&clock);
    TaskThread tasks;
    RecordingController controller(&remote_, &tasks);
    ASSERT_TRUE(controller.feed(IGUI_LOGIN, str("u") + str("p")));
    controller.feed(IGUI_UPLOAD_STATUS_ON, "");
    for (int i = 0; i < 61; i++) {
        clock.advanceMs(50);
        tasks.step();
    }
    EXPECT_EQ(controller.statusPushes, 1);
    controller.feed(IGUI_UPLOAD_STATUS_OFF, "");
    int before = controller.statusTask()->elapsed();
    clock.advanceMs(5000);
    tasks.step();
    EXPECT_EQ(controller.statusTask()->elapsed(), before);
    EXPECT_EQ(controller.statusPushes, 1);
}

TEST(UIStatusTask, FirstPushOnceElapsedExceedsTheInterval) {
    support::CaptureUI console;
    TcpipUI remote(&console, nullptr, nullptr);
    TaskThread tasks;
    RecordingController controller(&remote, &tasks);
    UIStatusTask* task = controller.statusTask();
    int ms = 0;
    while (controller.statusPushes == 0 && ms < 10000) {
        task->tick(50);
        ms += 50;
    }
    EXPECT_EQ(ms, 3050);
    for (int i = 0; i < 60; i++) task->tick(50);  // 3000 ms more: not yet
    EXPECT_EQ(controller.statusPushes, 1);
    task->tick(50);
    EXPECT_EQ(controller.statusPushes, 2);

    UIStatusTask idle;  // no controller: nothing
    idle.setInterval(0);
    EXPECT_FALSE(idle.tick(5000));
    EXPECT_EQ(idle.elapsed(), 0);
}

TEST_F(ControllerTest, DroppedWithPushesOnLeavesTheTaskList) {
    auto controller = new RecordingController(&remote_, &tasks_);
    ASSERT_TRUE(controller->feed(IGUI_LOGIN, str("u") + str("p")));
    controller->feed(IGUI_DOWNLOAD_STATUS_ON, "");
    controller->feed(IGUI_UPLOAD_STATUS_ON, "");
    tasks_.step();
    delete controller;
    EXPECT_FALSE(remote_.hasController());
    // The task thread goes on without touching the freed task (ASan).
    tasks_.step();
    remote_.print("console only");
    EXPECT_EQ(console_.text(), "console only\n");

    // Dropped before its pushes ever joined the list: the pending add goes.
    controller = new RecordingController(&remote_, &tasks_);
    controller->feed(IGUI_LOGIN, str("u") + str("p"));
    controller->feed(IGUI_DOWNLOAD_STATUS_ON, "");
    delete controller;
    tasks_.step();
}

TEST_F(ControllerTest, ServiceLiftsTheBudgetsAndPutsThemBack) {
    GUIController controller(nullptr, &remote_, &tasks_);
    setReadBudget(123);
    setWriteBudget(45);
    controller.doTask();
    EXPECT_EQ(readBudget(), 123);
    EXPECT_EQ(writeBudget(), 45);
    EXPECT_EQ(controller.bytesSent(), 0);
    EXPECT_EQ(controller.bytesReceived(), 0);
    budgets_reset();
}

TEST_F(ControllerTest, UnsentOutputIsBounded) {
    GUIController controller(nullptr, &remote_, &tasks_);
    const std::string chunk(60000, 'z');
    int queued = 0;
    while (controller.unsentBytes() + 70000 <= GUIController::kMaxUnsentBytes) {
        controller.sendFrame(newTextFrame(IGUI_CONSOLE_TEXT, chunk.c_str()));
        queued++;
    }
    EXPECT_EQ(controller.queuedPackets(), queued);
    controller.sendFrame(newTextFrame(IGUI_CONSOLE_TEXT, chunk.c_str()));
    controller.sendFrame(newTextFrame(IGUI_CONSOLE_TEXT, chunk.c_str()));
    // Past the limit frames are no longer queued; the connection is
    // dropped at its next service.
    EXPECT_LE(controller.unsentBytes(), GUIController::kMaxUnsentBytes);
    EXPECT_LE(controller.queuedPackets(), queued + 1);
    int before = controller.queuedPackets();
    controller.sendFrame(newTextFrame(IGUI_CONSOLE_TEXT, "x"));
    EXPECT_EQ(controller.queuedPackets(), before);
}
