// A download from a scripted uploader on 127.0.0.1 through the real peer
// pool: the client connects, asks the file's name, status and a slot, is
// queued, is called back by the uploader when a slot opens, requests the
// file's ranges and completes it byte for byte. The core is stepped on a
// manual clock; the uploader is this thread, answering each message it
// reads.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/meta/meta_tag.h"
#include "core/net/network_protocol.h"
#include "core/options/core_options.h"
#include "core/net/socket_pool.h"
#include "core/startup/core_thread.h"
#include "core/startup/network_setup.h"
#include "downloads/peer_downloads.h"
#include "downloads/pool/download.h"
#include "downloads/pool/download_state.h"
#include "downloads/sources/file_source_state.h"
#include "downloads/sources/peer_sources.h"
#include "support/download_world.h"
#include "support/files.h"
#include "support/loopback.h"
#include "support/part_digests.h"
#include "support/peer_fakes.h"
#include "support/peer_wire.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/client_source_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer.h"
#include "transfer/peer/peer_door.h"
#include "v4ada/net/socket.h"
#include "v4ada/threads/linux/threads.h"
#include "v4ada/time/clock_source.h"

namespace {

using support::Frame;
using support::FrameClient;

// Two whole parts and a part that is not full.
constexpr size_t kFileSize = 2 * 9728000 + 1234567;
constexpr uint32_t kLoopbackIp = 0x0100007F;  // 127.0.0.1
constexpr int kStepMs = 10;
constexpr int kMaxSteps = 3000;

// The other client: answers what the downloader asks, from this thread.
// Its writes go out without blocking (the downloader reads only while the
// test steps it).
class ScriptedUploader {
public:
    ScriptedUploader(const support::Bytes& data, const UniqueID& hash, UserMeta user)
        : data_(data), hash_(hash), user_(std::move(user)) {}

    // A new connection whose descriptor the frame client owns.
    void attach(FrameClient* client, int fd) {
        client_ = client;
        fd_ = fd;
        handled_ = 0;
        received.emplace_back();
    }
    // Reads what arrived, answers it, writes what it can.
    void serve() {
        client_->poll(0);
        for (; handled_ < client_->frames.size(); handled_++) answer(client_->frames[handled_]);
        flush();
    }
    void send(uint8_t opcode, const std::string& payload) { outbox_ += support::frame(opcode, payload); }
    bool drained() const { return outbox_.empty(); }

    // The opcodes received on each connection (a run of part requests
    // counts once).
    std::vector<std::vector<uint8_t>> received;

private:
    void answer(const Frame& frame) {
        std::vector<uint8_t>& seen = received.back();
        if (frame.opcode != ICLT_PART_REQUEST || seen.empty() || seen.back() != ICLT_PART_REQUEST)
            seen.push_back(frame.opcode);
        std::string hash = support::hashBytes(hash_);
        switch (frame.opcode) {
            case ICLT_HELLO:
                send(ICLT_HELLO_ANSWER, support::helloPayload(user_, 0, 0, false, true));
                break;
            case ICLT_FILE_NAME_REQUEST:
                send(ICLT_FILE_NAME, hash + support::le16s(9) + "three.bin");
                break;
            case ICLT_PARTNER_REQUEST:
                send(ICLT_PARTNER_REFUSED, hash);
                break;
            case ICLT_FILE_STATUS_REQUEST: {
                // Every crumb.
                uint32_t crumbs = static_cast<uint32_t>((data_.size() + 486399) / 486400);
                send(ICLT_FILE_STATUS, hash + support::le16s(static_cast<uint16_t>(crumbs)) +
                                           std::string(crumbs / 8 + 1, '\xFF'));
                break;
            }
            case ICLT_UPLOAD_REQUEST:
                send(ICLT_QUEUE_RANK, support::le32s(3));
                break;
            case ICLT_PART_REQUEST:
                serveRanges(frame.payload);
                break;
            default:
                break;
        }
    }

    void serveRanges(const std::string& payload) {
        ASSERT_EQ(payload.size(), 16u + 24u);
        auto u32 = [&](size_t at) {
            uint32_t v = 0;
            for (int i = 3; i >= 0; i--) v = v << 8 | static_cast<uint8_t>(payload[at + static_cast<size_t>(i)]);
            return v;
        };
        for (int i = 0; i < 3; i++) {
            uint32_t start = u32(16 + 4 * static_cast<size_t>(i));
            uint32_t end = u32(28 + 4 * static_cast<size_t>(i));
            if (start >= end || !served_.insert({start, end}).second) continue;
            ASSERT_LE(end, data_.size());
            std::string bytes(data_.begin() + start, data_.begin() + end);
            send(ICLT_DATA, support::hashBytes(hash_) + support::le32s(start) + support::le32s(end) + bytes);
        }
    }

    void flush() {
        while (!outbox_.empty()) {
            ssize_t n = ::send(fd_, outbox_.data(), outbox_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n <= 0) return;
            outbox_.erase(0, static_cast<size_t>(n));
        }
    }

    const support::Bytes& data_;
    UniqueID hash_;
    UserMeta user_;
    FrameClient* client_ = nullptr;
    int fd_ = -1;
    size_t handled_ = 0;
    std::string outbox_;
    std::set<std::pair<uint32_t, uint32_t>> served_;
};

class PeerSourceLoopbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        clockScope_ = std::make_unique<ScopedClockSource>(&clock_);
        world_ = std::make_unique<support::DownloadWorld>();
        using support::ProcessObjects;
        process_.emplace(ProcessObjects::kClientPool | ProcessObjects::kTransferOptions | ProcessObjects::kCoreThread);
        core_ = coreThread();
        core_->setBaseDirectory(dir_.path().c_str());
        core_->build();
        installNetworkProtocol(std::shared_ptr<i4_protocol>(support::loopback_protocol()));
        transferOptions()->load();
        // The download side follows the real pool's peers.
        clientPool()->addHandler(world_->pool);
        setPeerDownloads(world_->pool);
        installSourcePeerPool();
        installPeerSources();
        core_->step();
    }

    void TearDown() override {
        threads_wait_all();
        process_.reset();
        closePeerDoor();
        setPeerDownloads(nullptr);
        uninstallPeerSources();
        uninstallSourcePeerPool();
        clearNetworkProtocol();
        world_.reset();
        clockScope_.reset();
    }

    // One step of the client: the socket pool and the bus, the download
    // pool and its storage work.
    void step() {
        clock_.advanceMs(kStepMs);
        core_->step();
        world_->step(kStepMs);
        // Until the download lets the source go.
        if (source_ && !download_->sources()->contains(source_)) source_ = nullptr;
        int code = source_ ? source_->statusCode() : -1;
        if (source_ && codes_.back() != code) codes_.push_back(code);
    }

    support::TempDir dir_;
    ManualClock clock_;
    std::unique_ptr<ScopedClockSource> clockScope_;
    std::unique_ptr<support::DownloadWorld> world_;
    std::optional<support::ProcessObjects> process_;
    CoreThread* core_ = nullptr;
    Download* download_ = nullptr;
    FileSourceInterface* source_ = nullptr;
    // The source's status codes as they changed.
    std::vector<int> codes_;
};

TEST_F(PeerSourceLoopbackTest, DownloadsAFileFromAScriptedUploader) {
    const support::Bytes data = support::pattern_bytes(kFileSize, 11);
    Download* download = world_->start(data, "three.bin");
    ASSERT_NE(download, nullptr);
    download_ = download;

    int listenPort = 0;
    int listener = support::raw_listen(&listenPort);
    ASSERT_GE(listener, 0);
    UserMeta user = support::makeUser("uploader", kLoopbackIp, static_cast<uint16_t>(listenPort), 0x42);
    int32_t crumbMaps = 1;
    user.set(kOwnRecordMark, &crumbMaps, kTagInt);
    ScriptedUploader uploader(data, download->fileHash(), user);
    download->addSource(&user, nullptr);
    download->lock(0);
    ASSERT_EQ(download->sources()->count(), 1);
    source_ = static_cast<FileSourceInterface*>(download->sources()->at(0));
    download->unlock();
    codes_.push_back(source_->statusCode());

    // The client connects to the uploader's address.
    int accepted = -1;
    for (int i = 0; i < kMaxSteps && accepted < 0; i++) {
        step();
        pollfd ready{listener, POLLIN, 0};
        if (::poll(&ready, 1, 1) == 1) accepted = ::accept(listener, nullptr, nullptr);
    }
    ::close(listener);
    ASSERT_GE(accepted, 0) << "no connection came";
    auto first = std::make_unique<FrameClient>(accepted);
    uploader.attach(first.get(), accepted);
    // Hello, name, partner refused, status, queue rank: then the client has
    // no more use for the connection and closes it.
    for (int i = 0; i < kMaxSteps && !first->closed; i++) {
        uploader.serve();
        step();
    }
    ASSERT_TRUE(first->closed);
    EXPECT_EQ(source_->statusCode(), kFssOnQueue);
    EXPECT_EQ(source_->queuePlace(), 3u);
    EXPECT_STREQ(source_->fileName(), "three.bin");

    // A slot opens: the uploader calls the client at its door.
    std::shared_ptr<i4_protocol> protocol = networkProtocol();
    std::unique_ptr<i4_socket> door(protocol->listen(0, 0, kSocketStream, nullptr));
    ASSERT_NE(door, nullptr);
    int fd = support::raw_connect(support::local_port(door.get()));
    auto second = std::make_unique<FrameClient>(fd);
    i4_socket* incoming = nullptr;
    door->accept(&incoming);
    ASSERT_NE(incoming, nullptr);
    incoming->setBlocking(false);
    core_->socketPool()->add(new Peer(incoming));
    uploader.attach(second.get(), fd);
    uploader.send(ICLT_HELLO, support::helloPayload(user, 0, 0, true, true));
    // The client asks for the map again and is back on the queue.
    for (int i = 0; i < kMaxSteps && codes_.size() < 6; i++) {
        uploader.serve();
        step();
    }
    ASSERT_EQ(source_->statusCode(), kFssOnQueue);
    uploader.send(ICLT_SLOT_OPEN, "");
    const std::string target = world_->incoming + "/three.bin";
    for (int i = 0; i < kMaxSteps && download->statusCode() != kDlsComplete; i++) {
        uploader.serve();
        step();
        if (download->statusCode() == kDlsCompleting) world_->completions();
    }
    ASSERT_EQ(download->statusCode(), kDlsComplete);
    for (int i = 0; i < 50; i++) {
        uploader.serve();
        step();
    }
    EXPECT_EQ(support::read_bytes(target), data);

    // The source went from unasked through the partner question, the map
    // and the queue to the transfer, and gave its slot back with the file
    // done (unasked: had the final check failed, it would fetch again).
    EXPECT_EQ(codes_, (std::vector<int>{kFssUnasked, kFssAskingPartner, kFssWaitChunksBQ, kFssOnQueue,
                                        kFssWaitChunksBQ, kFssOnQueue, kFssTransferring, kFssUnasked}));
    ASSERT_EQ(uploader.received.size(), 2u);
    EXPECT_EQ(uploader.received[0],
              (std::vector<uint8_t>{ICLT_HELLO, ICLT_FILE_NAME_REQUEST, ICLT_FILE_NAME_REQUEST, ICLT_PARTNER_REQUEST,
                                    ICLT_FILE_STATUS_REQUEST, ICLT_UPLOAD_REQUEST}));
    EXPECT_EQ(uploader.received[1], (std::vector<uint8_t>{ICLT_HELLO_ANSWER, ICLT_FILE_STATUS_REQUEST,
                                                          ICLT_PART_REQUEST, ICLT_SLOT_RELEASE}));
}

}  // namespace
