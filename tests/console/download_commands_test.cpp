// The download words on a real download pool: the listing's columns, the
// record and crumb views, the changes of m with the reference that goes
// with a posted cancel, pause or resume, adds, and the master words reset
// and vg.
#include "console/cli/download_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/cli/file_link.h"
#include "console/cli/servant.h"
#include "core/bus/message_q.h"
#include "core/strings/string_table.h"
#include "downloads/pool/download_state.h"
#include "support/download_world.h"
#include "v4ada/containers/bool_array.h"

namespace {

using Lines = std::vector<std::string>;

class DownloadCommands : public ::testing::Test {
protected:
    void SetUp() override { consoleServant.store(&servant_); }
    void TearDown() override { consoleServant.store(nullptr); }

    // Runs the handler on the line; the lines printed meanwhile.
    Lines run(void (*handler)(char*), std::string line) {
        return world_.ui.printedDuring([&] { handler(line.data()); });
    }
    // A download the pool alone holds.
    Download* start(const support::Bytes& data, const char* name) {
        Download* download = world_.start(data, name);
        world_.drop(download);
        return download;
    }

    support::DownloadWorld world_;
    Servant servant_;
};

support::Bytes bytesOf(size_t size, uint8_t seed) {
    support::Bytes data(size);
    for (size_t i = 0; i < size; i++) data[i] = static_cast<uint8_t>((i * 31 + seed) % 251);
    return data;
}

TEST_F(DownloadCommands, ListingShowsStatusSizesAvailabilityAndPriority) {
    Download* first = start(bytesOf(1000000, 1), "first.bin");
    Download* second = start(bytesOf(2048, 2), "second.bin");
    ASSERT_TRUE(first && second);
    first->setSpeed(1.5);
    first->setPriority(Download::kHigh);
    second->setPriority(Download::kLow);
    // Two of the three crumbs held by a source: 66.7% shows as 66.
    BoolArray held(first->crumbCount());
    held.set(0, true);
    held.set(2, true);
    first->changeWeight(&held, 1);
    Lines lines = run(vd_command, "vd");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "File Name\tStatus\tSize\tTransfered\tSpeed\tAvailable\tPriority");
    EXPECT_EQ(lines[1], "(1) first.bin:");
    EXPECT_EQ(lines[2], std::string("\t\t") + uiString(STRINGS_DL_STATUS_TRANSFERING) + "\t976k\t0k\t1.50\t66%\tHigh");
    EXPECT_EQ(lines[3], "(2) second.bin:");
    EXPECT_EQ(lines[4], std::string("\t\t") + uiString(second->statusCode()) + "\t2k\t0k\t0.00\t0%\tLow");
    EXPECT_EQ(lines[5], "Total: 0.00 (0.00)");
    // Every crumb held: 100.
    BoolArray rest(first->crumbCount());
    rest.set(1, true);
    first->changeWeight(&rest, 1);
    EXPECT_NE(run(vd_command, "vd")[2].find("\t100%\t"), std::string::npos);
    first->changeWeight(&held, -1);
    first->changeWeight(&rest, -1);
}

TEST_F(DownloadCommands, RecordAndCrumbViews) {
    support::Bytes data = bytesOf(1000000, 3);
    Download* download = start(data, "three.bin");
    ASSERT_TRUE(download);
    // Without a source, or with a number that names none: nothing.
    EXPECT_TRUE(run(vso_command, "vso 1 1").empty());
    world_.feeder(download);
    world_.feed(download, data, 0, kCrumbSize);
    world_.settle();
    for (const char* line : {"vso", "vso 1", "vso 0 1", "vso 2 1", "vso 1 2", "vso 1 0", "vso x y"})
        EXPECT_TRUE(run(vso_command, line).empty()) << line;
    EXPECT_EQ(run(vso_command, "vso 1 1"), (Lines{"100 : you"}));

    for (const char* line : {"dld", "dld 0", "dld 2", "dld x"}) EXPECT_TRUE(run(dld_command, line).empty()) << line;
    Lines record = run(dld_command, "dld 1");
    std::string all;
    for (const std::string& l : record) all += l + "\n";
    EXPECT_NE(all.find("Hash: " + support::hex_text(download->fileHash())), std::string::npos) << all;
    EXPECT_NE(all.find("Crumb: 2) "), std::string::npos) << all;
}

// A link size from 2^31 to 2^32 - 1 is a size like any other: the record
// shows it as itself, not as the negative number of its stored bits.
TEST_F(DownloadCommands, ALinkOfThreeBillionBytesShowsItsSize) {
    ParsedLink link = parseFileLink("dllink vxt4://|file|big.iso|3000000000|0123456789abcdef0123456789abcdef|");
    ASSERT_EQ(link.kind, ParsedLink::Kind::kFile);
    world_.pool->startDownload(link.file.get());
    Lines record = run(dld_command, "dld 1");
    std::string all;
    for (const std::string& l : record) all += l;
    EXPECT_NE(all.find("Size: 3000000000\n"), std::string::npos) << all;
}

TEST_F(DownloadCommands, ChangesAndTheirRefusals) {
    Download* download = start(bytesOf(3000, 4), "change.bin");
    ASSERT_TRUE(download);
    struct Case {
        const char* line;
        Lines printed;
    } refusals[] = {
        {"m 0 c", {"Invalid Download number"}},
        {"m x c", {"Invalid Download number"}},
        {"m", {}},
        {"m 1", {}},
        {"m 2 c", {}},
        {"m 1 x", {}},
    };
    for (const Case& c : refusals) EXPECT_EQ(run(m_command, c.line), c.printed) << c.line;
    world_.pumpBus();
    EXPECT_TRUE(world_.takeCodes().empty());

    run(m_command, "m 1 p");
    world_.pumpBus();
    EXPECT_TRUE(download->isPaused());
    // Paused, it never becomes the Highest download by itself.
    struct Priority {
        const char* line;
        int priority;
    } priorities[] = {{"m 1 l", Download::kLow}, {"m 1 h", Download::kHigh}, {"m 1 H", Download::kHighest},
                      {"m 1 n", Download::kNormal}};
    for (const Priority& p : priorities) {
        run(m_command, p.line);
        EXPECT_EQ(download->priority(), p.priority) << p.line;
    }
    run(m_command, "m 1 r");
    world_.pumpBus();
    EXPECT_FALSE(download->isPaused());

    run(m_command, "m 1 v");
    EXPECT_EQ(download->refCount(), 1) << "every reference the command took is back";
}

// The posted message holds its own reference: an end that was queued
// before it (the completion's) and a first cancel that ended the download
// leave it alive until the handler has run.
TEST_F(DownloadCommands, PostedChangesKeepTheDownloadAlive) {
    Download* download = start(bytesOf(3000, 5), "twice.bin");
    ASSERT_TRUE(download);
    run(m_command, "m 1 c");
    run(m_command, "m 1 c");
    world_.pumpBus();
    world_.step(0);
    EXPECT_EQ(world_.pool->downloadCount(), 0);

    Download* racing = start(bytesOf(4000, 6), "racing.bin");
    ASSERT_TRUE(racing);
    messageQ->post(MSG_END_DOWNLOAD, racing);
    run(m_command, "m 1 c");
    run(m_command, "m 1 p");
    world_.pumpBus();
    world_.step(0);
    EXPECT_EQ(world_.pool->downloadCount(), 0);
}

TEST_F(DownloadCommands, AddsResetVgAndPartners) {
    support::Bytes data = bytesOf(5000, 7);
    Download* download = start(data, "source.bin");
    ASSERT_TRUE(download);
    for (const char* line : {"adds", "adds 1", "adds 0 1.2.3.4", "adds 2 1.2.3.4", "adds 1 1.2.3.4 70000",
                             "adds 1 1.2.3.4 0"})
        EXPECT_TRUE(run(adds_command, line).empty()) << line;
    int sources = download->sources()->count();
    EXPECT_EQ(run(adds_command, "adds 1 127.0.0.1"), (Lines{"Adding: 127.0.0.1:4662 to source.bin"}));
    EXPECT_EQ(run(adds_command, "adds 1 10.1.2.3 4711"), (Lines{"Adding: 10.1.2.3:4711 to source.bin"}));
    EXPECT_EQ(download->sources()->count(), sources + 2);

    world_.log.take();
    EXPECT_EQ(run(reset_command, "reset 1"), (Lines{"Resetting: source.bin"}));
    EXPECT_EQ(world_.log.count("reset"), 1);
    EXPECT_TRUE(run(reset_command, "reset 2").empty());

    std::string link = "vg vxt4://|file|source.bin|5000|" + support::hex_text(download->fileHash()) + "|";
    Lines shown = run(vg_command, link);
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(shown[0], "\nPartial File:");
    EXPECT_NE(std::find(shown.begin(), shown.end(), "Download Progress:"), shown.end());
    EXPECT_TRUE(run(vg_command, "vg vxt4://|file|source.bin|5000|00000000000000000000000000000000|").empty());
    EXPECT_TRUE(run(vg_command, "vg vxt4://|server|source.bin|5000|").empty());
    EXPECT_TRUE(run(vg_command, "vg").empty());
    EXPECT_EQ(download->refCount(), 1);

    // The sole download is the Highest one; no partner yet.
    world_.pool->reschedule();
    EXPECT_EQ(run(vpart_command, "vpart"),
              (Lines{"Partners: ", "Highest: source.bin", "0) NULL", "1) NULL", "2) NULL", "3) NULL"}));
}

}  // namespace
