#include "core/bus/message_q.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/ui/ui_gateway.h"
#include "support/ui_capture.h"
#include "v4ada/error/error.h"

namespace {

// Makes a verbose gateway current for the length of a test and keeps what
// it prints.
class DebugCapture : public support::CaptureUI {
public:
    DebugCapture() { setVerbose(true); }
};

// Records (handler name, code, data) for every message it is given, and
// may act during handling.
class RecordingHandler : public MessageHandler {
public:
    RecordingHandler(char name, std::vector<std::pair<char, int>>* log) : name(name), log(log) {}
    void handle(Message* message) override {
        log->push_back({name, message->code});
        lastData = message->data;
        if (action) action(message);
    }
    char name;
    std::vector<std::pair<char, int>>* log;
    void* lastData = nullptr;
    std::function<void(Message*)> action;
};

using Log = std::vector<std::pair<char, int>>;

TEST(MessageQTest, EmptyBusTickDoesNothing) {
    MessageQ bus;
    EXPECT_FALSE(bus.tick(0));
    EXPECT_FALSE(bus.tick(100));
}

TEST(MessageQTest, OneMessagePerTickInPostingOrderUrgentFirst) {
    MessageQ bus;
    Log log;
    RecordingHandler a('a', &log), b('b', &log);
    bus.setHandler(&a, MSG_LOAD_STATE);
    bus.setHandler(&a, MSG_COMMAND_LINE);  // one handler, many codes
    bus.setHandler(&b, MSG_RESCHEDULE);
    int payload = 7;
    bus.post(MSG_COMMAND_LINE, &payload, false);
    bus.post(MSG_RESCHEDULE, nullptr, false);
    bus.post(MSG_LOAD_STATE, nullptr, true);

    EXPECT_TRUE(bus.tick(0));
    EXPECT_EQ(log, (Log{{'a', MSG_LOAD_STATE}}));
    EXPECT_TRUE(bus.tick(0));
    EXPECT_EQ(a.lastData, &payload);
    EXPECT_TRUE(bus.tick(0));
    EXPECT_FALSE(bus.tick(0));
    EXPECT_EQ(log, (Log{{'a', MSG_LOAD_STATE}, {'a', MSG_COMMAND_LINE}, {'b', MSG_RESCHEDULE}}));
}

// A post wakes the task thread; the bus's tick takes the signal before it
// looks at its queue, and leaves it set while messages remain.
TEST(MessageQTest, PostsSignalTheWakeupAndTicksTakeIt) {
    TaskWakeup wakeup;
    MessageQ bus;
    Log log;
    RecordingHandler a('a', &log);
    bus.setHandler(&a, MSG_COMMAND_LINE);
    bus.setWakeup(&wakeup);
    EXPECT_FALSE(wakeup.wait(0));
    bus.post(MSG_COMMAND_LINE, nullptr);
    bus.post(MSG_COMMAND_LINE, nullptr);
    EXPECT_TRUE(wakeup.wait(0));
    EXPECT_TRUE(bus.tick(0));
    EXPECT_TRUE(wakeup.wait(0));  // one message is left
    EXPECT_TRUE(bus.tick(0));
    EXPECT_FALSE(wakeup.wait(0));
    bus.setWakeup(nullptr);
    bus.post(MSG_COMMAND_LINE, nullptr);
    EXPECT_FALSE(wakeup.wait(0));
    EXPECT_TRUE(bus.tick(0));
}

TEST(MessageQTest, MessageWithoutHandlerIsReportedAndDropped) {
    MessageQ bus;
    Log log;
    RecordingHandler a('a', &log);
    bus.setHandler(&a, MSG_RESCHEDULE);
    DebugCapture capture;
    int data = 1;
    bus.post(MSG_SHARES_UPDATED, &data);
    bus.post(MSG_RESCHEDULE, nullptr);

    EXPECT_FALSE(bus.tick(0));
    EXPECT_EQ(capture.text(), "Message Handler not found: 17\n");
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(bus.tick(0));  // the next message is handled at once
    EXPECT_EQ(log, (Log{{'a', MSG_RESCHEDULE}}));
    EXPECT_EQ(data, 1);
}

TEST(MessageQTest, DebugLinesShowOnlyInVerboseMode) {
    MessageQ bus;
    DebugCapture capture;
    capture.setVerbose(false);
    bus.post(MSG_SHARES_UPDATED, nullptr);
    bus.post(300, nullptr);
    EXPECT_FALSE(bus.tick(0));
    EXPECT_FALSE(bus.tick(0));
    EXPECT_EQ(capture.text(), "");
}

TEST(MessageQTest, LaterHandlerReplacesEarlierOne) {
    MessageQ bus;
    Log log;
    RecordingHandler first('1', &log), second('2', &log);
    bus.setHandler(&first, MSG_BOOT);
    bus.setHandler(&second, MSG_BOOT);
    bus.post(MSG_BOOT, nullptr);
    EXPECT_TRUE(bus.tick(0));
    EXPECT_EQ(log, (Log{{'2', MSG_BOOT}}));
}

TEST(MessageQTest, MessagePostedDuringHandlingIsHandledInALaterTick) {
    MessageQ bus;
    Log log;
    RecordingHandler a('a', &log);
    a.action = [&](Message* message) {
        if (message->code == MSG_LOAD_STATE) {
            bus.post(MSG_RESCHEDULE, nullptr);
            bus.post(MSG_CHECK_DISK_SPACE, nullptr, true);
        }
    };
    bus.setHandler(&a, MSG_LOAD_STATE);
    bus.setHandler(&a, MSG_RESCHEDULE);
    bus.setHandler(&a, MSG_CHECK_DISK_SPACE);
    bus.post(MSG_LOAD_STATE, nullptr);

    EXPECT_TRUE(bus.tick(0));
    EXPECT_EQ(log.size(), 1u);
    EXPECT_TRUE(bus.tick(0));
    EXPECT_TRUE(bus.tick(0));
    EXPECT_FALSE(bus.tick(0));
    EXPECT_EQ(log, (Log{{'a', MSG_LOAD_STATE}, {'a', MSG_CHECK_DISK_SPACE}, {'a', MSG_RESCHEDULE}}));
}

TEST(MessageQTest, HandlerThatThrowsDoesNotGetTheSameMessageAgain) {
    MessageQ bus;
    Log log;
    RecordingHandler a('a', &log);
    a.action = [](Message* message) {
        if (message->code == MSG_BOOT) error_at(__FILE__, __LINE__)("bad boot address");
    };
    bus.setHandler(&a, MSG_BOOT);
    bus.setHandler(&a, MSG_RESCHEDULE);
    bus.post(MSG_BOOT, nullptr);
    bus.post(MSG_RESCHEDULE, nullptr);
    EXPECT_THROW(bus.tick(0), i4_err);
    EXPECT_TRUE(bus.tick(0));
    EXPECT_FALSE(bus.tick(0));
    EXPECT_EQ(log, (Log{{'a', MSG_BOOT}, {'a', MSG_RESCHEDULE}}));
}

TEST(MessageQTest, CodesOutsideTheTableAreRefused) {
    MessageQ bus;
    Log log;
    RecordingHandler a('a', &log);
    for (int code : {-1, 256, 1000, INT_MIN, INT_MAX}) {
        DebugCapture capture;
        bus.setHandler(&a, code);
        bus.post(code, nullptr);
        EXPECT_FALSE(bus.tick(0)) << code;  // nothing was queued
        std::string line = "Message code out of range: " + std::to_string(code) + "\n";
        EXPECT_EQ(capture.text(), line + line) << code;
    }
    EXPECT_TRUE(log.empty());

    // The edges of the table work.
    bus.setHandler(&a, 0);
    bus.setHandler(&a, 255);
    bus.post(255, nullptr);
    bus.post(0, nullptr);
    EXPECT_TRUE(bus.tick(0));
    EXPECT_TRUE(bus.tick(0));
    EXPECT_EQ(log, (Log{{'a', 255}, {'a', 0}}));
}

TEST(MessageQTest, DestroyingTheBusFreesQueuedRecordsNotTheirData) {
    // Under LeakSanitizer a record left behind is reported; freeing the
    // data (a stack int here) would be reported as a bad free.
    int data = 3;
    {
        MessageQ bus;
        bus.post(MSG_START_DOWNLOAD, &data);
        bus.post(MSG_END_DOWNLOAD, &data, true);
    }
    EXPECT_EQ(data, 3);
}

TEST(MessageQTest, PendingMessagesOfAHandlerAreDiscardedInOrderAndTheRestStay) {
    class Discarding : public RecordingHandler {
    public:
        using RecordingHandler::RecordingHandler;
        void discard(Message* message) override { dropped.push_back(message->code); }
        std::vector<int> dropped;
    };
    Log log;
    Discarding mine('m', &log);
    RecordingHandler other('o', &log);
    MessageQ bus;
    bus.setHandler(&mine, MSG_START_DOWNLOAD);
    bus.setHandler(&mine, MSG_RESCHEDULE);
    bus.setHandler(&other, MSG_CHECK_DISK_SPACE);
    bus.post(MSG_START_DOWNLOAD, nullptr);
    bus.post(MSG_CHECK_DISK_SPACE, nullptr);
    bus.post(MSG_RESCHEDULE, nullptr);
    bus.post(MSG_CHECK_DISK_SPACE, nullptr);
    bus.discardPending(&mine);
    bus.discardPending(nullptr);
    EXPECT_EQ(mine.dropped, (std::vector<int>{MSG_START_DOWNLOAD, MSG_RESCHEDULE}));
    EXPECT_TRUE(bus.tick(0));
    EXPECT_TRUE(bus.tick(0));
    EXPECT_FALSE(bus.tick(0));
    EXPECT_EQ(log, (Log{{'o', MSG_CHECK_DISK_SPACE}, {'o', MSG_CHECK_DISK_SPACE}}));
}

// Makes and destroys the bus by hand: those calls are what it tests.
TEST(MessageQTest, ProcessBusIsMadeAndDestroyedExplicitly) {
    ASSERT_EQ(messageQ, nullptr);
    message_bus_create();
    MessageQ* made = messageQ;
    ASSERT_NE(made, nullptr);
    message_bus_create();
    EXPECT_EQ(messageQ, made);
    messageQ->post(MSG_RESCHEDULE, nullptr);
    message_bus_destroy();
    EXPECT_EQ(messageQ, nullptr);
    message_bus_destroy();  // nothing left: no effect
}

}  // namespace
