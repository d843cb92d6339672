// The fixed layouts the client sends its controller, against bytes written
// out by hand from the protocol's field lists.
#include "console/remote/controller_frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "console/remote/controller_opcodes.h"
#include "console/remote/remote_fixture.h"
#include "support/bytes.h"

using namespace remotetest;

namespace {

std::string payloadOf(ControllerFrame* frame) {
    std::unique_ptr<ControllerFrame> owned(frame);
    return frameBytes(frame).substr(6);
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

}  // namespace

TEST(ControllerFrames, ClientStatusFieldByField) {
    ClientStatus status;
    status.downloadLimit = 2.5f;
    status.uploadLimit = 1.0f;
    status.doorPort = 4662;
    status.maxConnections = 0x00012345;
    status.nickname = "ab";
    status.tempDir = "/t";
    status.incomingDir = "";
    status.pmAllow = 1;
    status.saveCor = 0;
    status.verifyCancel = 1;
    status.adminDoorPort = 4663;
    status.buildDate = 0x00040105;
    status.lineSpeed = 12;
    status.processId = 0x01020304;
    auto frame = new ControllerFrame(IGUI_CLIENT_STATUS);
    writeClientStatus(frame->out(), status);
    const std::string expected = std::string("\x1A\x04", 2)         // version 1050
                                 + std::string("\x00\x00\x20\x40", 4)  // f32 2.5
                                 + std::string("\x00\x00\x80\x3F", 4)  // f32 1.0
                                 + "\x36\x12"                          // door 4662
                                 + "\x45\x23"                          // max connections, low 16 bits
                                 + std::string("\x02\x00" "ab", 4) + std::string("\x02\x00" "/t", 4) +
                                 std::string("\x00\x00", 2)            // empty incoming
                                 + std::string("\x00\x00\x00", 3) + std::string("\x01\x00\x01", 3) +
                                 "\x37\x12"                            // admin door 4663
                                 + std::string("\x45\x23\x01\x00", 4)  // max connections
                                 + std::string("\x05\x01\x04\x00", 4)  // build date
                                 + std::string("\x0C\x00\x00\x00", 4)  // line speed
                                 + "\x04\x03\x02\x01";                 // pid
    EXPECT_EQ(hex(payloadOf(frame)), hex(expected));
}

TEST(ControllerFrames, DownloadStatusEntryAndDiskInfo) {
    DownloadStatusEntry entry;
    entry.id = 7;
    entry.status = 2;
    entry.speed = 1.5f;
    entry.bytesDone = 0x100000005ull;  // low 32 bits only
    entry.availability = 0.999;        // never rounds up to 100
    entry.sources = 300;               // low 8 bits
    auto frame = new ControllerFrame(IGUI_DOWNLOAD_STATUS);
    writeDownloadStatusEntry(frame->out(), entry);
    std::string bytes = payloadOf(frame);
    ASSERT_EQ(bytes.size(), static_cast<size_t>(kDownloadStatusEntrySize));
    EXPECT_EQ(hex(bytes), hex(std::string("\x07\x00\x00\x00\x02\x00\x00\xC0\x3F\x05\x00\x00\x00\x63\x2C", 15)));

    DiskInfo info;
    info.tempFreeMiB = 100.5f;
    info.incomingFreeMiB = 0;
    info.ownIp = 0x0100007F;  // 127.0.0.1
    info.connections = 3;
    info.queuedUsers = 258;
    frame = new ControllerFrame(IGUI_DISK_INFO);
    writeDiskInfo(frame->out(), info);
    bytes = payloadOf(frame);
    ASSERT_EQ(bytes.size(), static_cast<size_t>(kDiskInfoSize));
    EXPECT_EQ(hex(bytes), hex(std::string("\x00\x00\xC9\x42\x00\x00\x00\x00\x00\x00\x00\x00\x7F\x00\x00\x01"
                                          "\x03\x00\x02\x01",
                                          20)));
}

TEST(ControllerFrames, AvailabilityPercentTruncates) {
    const std::pair<double, int> cases[] = {
        {0.0, 0}, {0.29, 28}, {0.5, 50}, {0.999999, 99}, {1.0, 100}, {3.0, 100}, {-0.5, 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const auto& [availability, percent] : cases)
        EXPECT_EQ(availabilityPercent(availability), percent) << availability;
}

TEST(ControllerFrames, PartMapRuns) {
    struct Case {
        const char* name;
        std::vector<int32_t> weights;
        uint64_t size;
        std::string runs;  // after id and count
        uint16_t count;
    };
    const uint32_t crumb = 486400;
    const Case cases[] = {
        {"two of weight 2, one verified", {2, 2, -1}, 1000000,
         le32(0) + le32(2 * crumb) + le16(2) + le32(2 * crumb) + le32(1000000) + le16(65535), 2},
        {"one crumb", {3}, 1000, le32(0) + le32(1000) + le16(3), 1},
        {"all verified", {-1, -1, -1, -1}, 4 * crumb - 10, le32(0) + le32(4 * crumb - 10) + le16(65535), 1},
        {"alternating", {0, 1, 0}, 3 * crumb,
         le32(0) + le32(crumb) + le16(0) + le32(crumb) + le32(2 * crumb) + le16(1) + le32(2 * crumb) +
             le32(3 * crumb) + le16(0),
         3},
        {"no crumbs", {}, 0, "", 0},
    };
    for (const Case& c : cases) {
        auto frame = new ControllerFrame(IGUI_PART_MAP);
        writePartMap(frame->out(), 9, c.weights.data(), static_cast<uint32_t>(c.weights.size()), c.size);
        EXPECT_EQ(hex(payloadOf(frame)), hex(le32(9) + le16(c.count) + c.runs)) << c.name;
    }
}

TEST(ControllerFrames, BuildDateParse) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"Jan  5 2004", 4 * 65536 + 1 * 256 + 5},
        {"Dec 31 2099", 99 * 65536 + 12 * 256 + 31},
        {"Feb 29 2000", 0 * 65536 + 2 * 256 + 29},
        {"Foo 1 2004", 0},    // no such month
        {"jan 5 2004", 0},    // names are case-sensitive
        {"Janu 5 2004", 0},   // three letters only
        {"anF 5 2004", 0},    // not at a name's place in the month list
        {"Jan 0 2004", 0},    // day 1 to 31
        {"Jan 32 2004", 0},
        {"Jan 5 1999", 0},    // before 2000
        {"Jan 5 99999", 0},   // beyond the encoding
        {"Jan -5 2004", 0},
        {"Jan 5", 0},         // three fields
        {"Jan 5 2004 x", 0},
        {"", 0},
        {nullptr, 0},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(buildDateValue(text), value) << (text ? text : "(null)");
    EXPECT_NE(buildDateValue(__DATE__), 0u);
}

TEST(ControllerFrames, LineSpeedIsTheWholeKilobytes) {
    const std::pair<double, uint32_t> cases[] = {
        {12.5, 12}, {0.9, 0}, {0, 0}, {-3, 0}, {1e12, 0xFFFFFFFFu},
        {std::numeric_limits<double>::infinity(), 0}, {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const auto& [speed, field] : cases) EXPECT_EQ(lineSpeedValue(speed), field) << speed;
}

TEST(ControllerFrames, TextFrameCarriesTheTextAsAString) {
    auto frame = newTextFrame(IGUI_CONSOLE_TEXT, "100% done");
    std::unique_ptr<ControllerFrame> owned(frame);
    EXPECT_EQ(frameBytes(frame), support::tcp_frame(IGUI_CONSOLE_TEXT, str("100% done")));
    std::unique_ptr<ControllerFrame> empty(newTextFrame(IGUI_ERROR_TEXT, nullptr));
    EXPECT_EQ(frameBytes(empty.get()), support::tcp_frame(IGUI_ERROR_TEXT, str("")));
}
