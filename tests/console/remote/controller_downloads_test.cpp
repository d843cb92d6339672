// The controller and the downloads: the initial state, downloads started,
// steered and reported by hash, the status pushes and the part map, all
// with the same id per download. A real download pool runs behind the
// remote user interface; what the controller sends is recorded.
#include <gtest/gtest.h>

#include "console/remote/admin_settings.h"
#include "console/remote/controller_opcodes.h"
#include "console/remote/remote_fixture.h"
#include "console/remote/tcpip_ui.h"
#include "core/task/task_thread.h"
#include "support/bytes.h"
#include "support/download_world.h"
#include "support/memory_files.h"
#include "support/part_digests.h"
#include "support/process_objects.h"
#include "transfer/uploads/upload_pool.h"
#include "v4ada/error/error.h"

using namespace remotetest;

namespace {

constexpr int kPausedCode = 4;

std::string hashOf(Download* download) { return support::as_text(support::id_bytes(download->fileHash())); }

uint32_t lastId(const SentFrame& frame) {
    const std::string& p = frame.payload;
    return static_cast<uint8_t>(p[p.size() - 4]) | static_cast<uint8_t>(p[p.size() - 3]) << 8 |
           static_cast<uint8_t>(p[p.size() - 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(p.back())) << 24;
}

std::vector<int> opcodes(const std::vector<SentFrame>& frames) {
    std::vector<int> out;
    for (const SentFrame& frame : frames) out.push_back(frame.opcode);
    return out;
}

class ControllerDownloadsTest : public ::testing::Test {
protected:
    ControllerDownloadsTest() : remote_(&world_.ui, nullptr, &world_.transferUI), controller_(&remote_, &tasks_) {
        adminSettings()->setLogin("u", "p");
        setCurrentTransferUI(&remote_);
    }
    ~ControllerDownloadsTest() override {
        setCurrentTransferUI(&world_.transferUI);
    }

    void login() {
        ASSERT_TRUE(controller_.feed(IGUI_LOGIN, str("u") + str("p")));
        controller_.frames.clear();
    }
    // Feeds a frame and delivers what it posted.
    void send(uint8_t opcode, const std::string& payload = "") {
        EXPECT_TRUE(controller_.feed(opcode, payload)) << int(opcode);
        world_.pumpBus();
    }

    support::DownloadWorld world_;
    TaskThread tasks_;
    TcpipUI remote_;
    RecordingController controller_;
    support::ProcessObjects process_{support::ProcessObjects::kAdminSettings};
};

}  // namespace

TEST_F(ControllerDownloadsTest, LoginListsTheDownloadsThenTheUploadSlots) {
    Download* a = world_.start(support::pattern_bytes(3000, 1), "a.bin");
    Download* b = world_.start(support::pattern_bytes(4000, 2), "b.bin");
    ASSERT_TRUE(a && b);
    support::ProcessObjects uploads{support::ProcessObjects::kUploadPool};
    ASSERT_TRUE(controller_.feed(IGUI_LOGIN, str("u") + str("p")));
    const std::vector<SentFrame> frames = controller_.frames;
    ASSERT_EQ(opcodes(frames), (std::vector<int>{IGUI_CLIENT_STATUS, IGUI_DOWNLOAD_ADDED, IGUI_DOWNLOAD_ADDED,
                                                  IGUI_UPLOAD_SLOT, IGUI_UPLOAD_SLOT}));
    // In list order, each with its id.
    LLsafe* list = world_.pool->downloadList();
    auto first = static_cast<Download*>(list->at(0));
    auto second = static_cast<Download*>(list->at(1));
    EXPECT_EQ(frames[1].payload.substr(0, 16), hashOf(first));
    EXPECT_EQ(lastId(frames[1]), remote_.handles()->find(first));
    EXPECT_EQ(frames[2].payload.substr(0, 16), hashOf(second));
    EXPECT_EQ(lastId(frames[2]), remote_.handles()->find(second));
    EXPECT_NE(lastId(frames[1]), lastId(frames[2]));
    EXPECT_NE(frames[3].payload.substr(0, 4), frames[4].payload.substr(0, 4));
}

TEST_F(ControllerDownloadsTest, DownloadsByHashKeepTheirIds) {
    login();
    const support::Bytes data = support::pattern_bytes(1000000, 3);
    std::unique_ptr<FileMeta> record = world_.record(data, "c.bin");
    support::ByteWriter wire;
    ASSERT_TRUE(record->toNetwork(wire.file()));

    // 226 starts the download; 188 names it.
    send(IGUI_DOWNLOAD, support::as_text(wire.bytes()));
    Download* download = world_.pool->findDownload(record->fileHash());
    ASSERT_NE(download, nullptr);
    world_.hold(download);
    download->release();  // the world's reference is enough
    ASSERT_EQ(opcodes(controller_.frames), (std::vector<int>{IGUI_DOWNLOAD_ADDED}));
    const uint32_t id = lastId(controller_.frames[0]);
    EXPECT_EQ(id, remote_.handles()->find(download));
    controller_.frames.clear();
    // A record that does not read starts nothing; the connection stays.
    send(IGUI_DOWNLOAD, "\x01\x02");
    EXPECT_EQ(world_.pool->downloadCount(), 1);

    // The status push and the part map carry the same id.
    send(IGUI_DOWNLOAD_STATUS_ON);
    controller_.GUIController::sendStatus();
    send(IGUI_GET_PART_MAP, hashOf(download));
    ASSERT_EQ(opcodes(controller_.frames), (std::vector<int>{IGUI_DOWNLOAD_STATUS, IGUI_PART_MAP}));
    EXPECT_EQ(controller_.frames[0].payload.substr(0, 6), le16(1) + le32(id));
    EXPECT_EQ(controller_.frames[1].payload, le32(id) + le16(1) + le32(0) + le32(1000000) + le16(0));
    controller_.frames.clear();

    // Pause, resume and priority by hash.
    send(IGUI_PAUSE, hashOf(download));
    EXPECT_EQ(download->statusCode(), kPausedCode);
    send(IGUI_RESUME, hashOf(download));
    EXPECT_NE(download->statusCode(), kPausedCode);
    Download* other = world_.start(support::pattern_bytes(5000, 4), "d.bin");
    ASSERT_NE(other, nullptr);
    controller_.frames.clear();
    send(IGUI_PRIORITY, hashOf(other) + std::string(1, '\0'));
    EXPECT_EQ(other->priority(), Download::kLow);
    send(IGUI_PRIORITY, hashOf(other) + std::string(1, '\4'));  // no such level
    EXPECT_EQ(other->priority(), Download::kLow);

    // Hashes of no download: nothing happens, nothing is answered.
    const std::string unknown(16, '\x5A');
    for (uint8_t opcode : {IGUI_PAUSE, IGUI_RESUME, IGUI_CANCEL, IGUI_GET_PART_MAP}) send(opcode, unknown);
    send(IGUI_PRIORITY, unknown + std::string(1, '\2'));
    EXPECT_TRUE(controller_.frames.empty());
    EXPECT_EQ(world_.pool->downloadCount(), 2);
    EXPECT_EQ(download->statusCode() == kPausedCode, false);

    // 210 cancels: the download ends, 189 names its hash, and its id goes.
    send(IGUI_CANCEL, hashOf(download));
    world_.settle();
    ASSERT_EQ(opcodes(controller_.frames), (std::vector<int>{IGUI_DOWNLOAD_REMOVED}));
    EXPECT_EQ(controller_.frames[0].payload, hashOf(download));
    EXPECT_EQ(world_.pool->downloadCount(), 1);
    EXPECT_EQ(remote_.handles()->find(download), 0u);

    // Short payloads end the connection as on the wire.
    for (uint8_t opcode : {IGUI_PAUSE, IGUI_PRIORITY, IGUI_GET_PART_MAP})
        EXPECT_THROW(controller_.feed(opcode, hashOf(other).substr(0, opcode == IGUI_PRIORITY ? 16 : 15)), i4_err)
            << int(opcode);
}
