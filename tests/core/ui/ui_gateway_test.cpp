#include "core/ui/ui_gateway.h"

#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/process_objects.h"
#include "support/ui_capture.h"
#include "support/temp_dir.h"
#include "core/strings/string_table.h"
#include "core/ui/core_ui.h"
#include "core/ui/flock_ui.h"
#include "core/ui/page_sink.h"
#include "core/ui/transfer_ui.h"

using namespace support;

namespace {

// Detached: each test decides what is current.
class CapturingGateway : public support::CaptureUI {
public:
    CapturingGateway() : CaptureUI(Install::kDetached) {}
};

class CollectingSink : public PageSink {
public:
    bool collecting = true;
    std::vector<std::string> lines;
    bool takeLine(const char* line) override {
        if (!collecting) return false;
        lines.emplace_back(line);
        return true;
    }
};

// "[ Mon Jan  5 14:03:09 2004 ]: message\n"
const std::regex kLogLine(R"(\[ [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4} \]: (.*))");

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start != text.size()) lines.push_back("<unterminated>" + text.substr(start));
    return lines;
}

TEST(UIGatewayTest, PrintKinds) {
    CapturingGateway ui;
    ui.print("a %d %s", 7, "b");
    ui.printRaw("raw %s", "x");
    ui.debug("hidden %d", 1);
    EXPECT_EQ(ui.text(), "a 7 b\nraw x");
    EXPECT_EQ(ui.flushes(), 0);
    ui.setVerbose(true);
    ui.debug("shown %d", 2);
    ui.printFlush("> ");
    EXPECT_EQ(ui.text(), "a 7 b\nraw xshown 2> ");
    EXPECT_EQ(ui.flushes(), 1);
    ui.setVerbose(false);
    ui.debug("hidden again");
    EXPECT_EQ(ui.text(), "a 7 b\nraw xshown 2> ");
}

TEST(UIGatewayTest, PagedLinesGoToTheSinkCutTo511Bytes) {
    CapturingGateway ui;
    CollectingSink sink;
    ui.setPageSink(&sink);
    std::string longText(700, 'q');
    ui.print("short %d", 1);
    ui.print("%s", longText.c_str());
    ui.printRaw("prompt");  // raw output is never paged
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_EQ(sink.lines[0], "short 1");
    EXPECT_EQ(sink.lines[1], std::string(kPrintLineBuffer - 1, 'q'));
    EXPECT_EQ(ui.text(), "prompt");

    sink.collecting = false;  // between commands the console lets lines through
    ui.print("direct");
    ui.setPageSink(nullptr);
    ui.print("%s", longText.c_str());
    EXPECT_EQ(ui.text(), "promptdirect\n" + longText + "\n");
}

TEST(UIGatewayTest, LogLinesHaveTheStampFormat) {
    support::TempDir dir;
    std::string path = dir / "log.txt";
    CapturingGateway ui;
    ui.log("before any path");
    ui.logRaw("raw", 3);
    EXPECT_FALSE(file_exists(path));

    ui.setLogPath(path.c_str());
    ui.log("started %d %s", 42, "ok");
    ui.logRaw("raw bytes\n", 10);
    ui.log("%s", "%s%n%d");  // data is never a format
    ui.log("");
    std::vector<std::string> lines = splitLines(read_file(path));
    ASSERT_EQ(lines.size(), 4u) << read_file(path);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLogLine)) << lines[0];
    EXPECT_EQ(m[1], "started 42 ok");
    EXPECT_EQ(lines[1], "raw bytes");
    ASSERT_TRUE(std::regex_match(lines[2], m, kLogLine)) << lines[2];
    EXPECT_EQ(m[1], "%s%n%d");
    ASSERT_TRUE(std::regex_match(lines[3], m, kLogLine)) << lines[3];
    EXPECT_EQ(m[1], "");
    EXPECT_TRUE(ui.text().empty());
}

TEST(UIGatewayTest, UnopenableLogLosesOnlyThatLine) {
    support::TempDir dir;
    std::string path = dir / "later/log.txt";
    CapturingGateway ui;
    ui.setLogPath(path.c_str());
    ui.log("lost");
    write_file(dir / "later/placeholder", "");
    ui.log("kept");
    std::vector<std::string> lines = splitLines(read_file(path));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("]: kept"), std::string::npos);
}

TEST(UIGatewayTest, CurrentGatewayIsSetAndReset) {
    EXPECT_EQ(currentUI(), nullptr);
    CapturingGateway a, b;
    EXPECT_EQ(setCurrentUI(&a), nullptr);
    EXPECT_EQ(setCurrentUI(&b), &a);
    EXPECT_EQ(currentUI(), &b);
    EXPECT_EQ(setCurrentUI(nullptr), &b);
    EXPECT_EQ(currentUI(), nullptr);
}

class QuietTransferUI : public TransferUI {};
class QuietFlockUI : public FlockUI {};
class QuietCoreUI : public CoreUI {};

TEST(NotificationDefaultsTest, DoorFailedPrintsAndOthersDoNothing) {
    CapturingGateway ui;
    QuietTransferUI transfer;
    transfer.doorFailed(4662);  // no gateway: nothing to print on, no crash
    setCurrentUI(&ui);
    transfer.doorFailed(4662);
    EXPECT_EQ(ui.text(),
              "ERROR: can't listen on port 4662.\n"
              "Port is probably in use.\nChange port by typing: 'port ####' at the prompt.\n");

    {
        support::ProcessObjects strings{support::ProcessObjects::kStringTable};
        const char doc[] = "<ui><STRINGS><cantListenOnPort label=\"%s%d%n busy\"/>"
                           "<errorCantStartDoor label=\"Pick another %s\"/></STRINGS></ui>";
        ASSERT_TRUE(XMLStringTable::instance()->loadBuffer(doc, sizeof doc - 1));
        ui.clear();
        transfer.doorFailed(80);
        EXPECT_EQ(ui.text(), "%s%d%n busy 80.\nPick another %s\n");
    }

    ui.clear();
    EXPECT_EQ(transfer.downloadList(), nullptr);
    transfer.downloadAdded(nullptr);
    transfer.peerDisconnected(nullptr, 1, 2);
    transfer.gotMessage(nullptr, "hi");
    QuietFlockUI flock;
    flock.gotNodes(nullptr, 0x0100007f, 4672);
    flock.searchEnd(nullptr, nullptr, 0, 0);
    QuietCoreUI core;
    core.startupDone();
    EXPECT_EQ(ui.text(), "");
    setCurrentUI(nullptr);
}

}  // namespace
