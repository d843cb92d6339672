#include "transfer/uploads/upload_world_fixture.h"

#include "core/bus/message_q.h"
#include "core/net/connection.h"
#include "core/net/socket_pool.h"
#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "core/startup/network_setup.h"
#include "support/files.h"
#include "transfer/options/transfer_options.h"
#include "downloads/storage/download_services.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer.h"
#include "v4ada/threads/linux/threads.h"

namespace uploadtest {

std::string patternBytes(size_t size, int seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i++) bytes[i] = static_cast<char>((i + static_cast<size_t>(seed)) % 251);
    return bytes;
}

std::string le32s(uint32_t value) { return support::le32s(value); }

std::string dataPayload(const UniqueID& hash, uint32_t start, const std::string& bytes) {
    return support::hashBytes(hash) + le32s(start) + le32s(start + static_cast<uint32_t>(bytes.size())) + bytes;
}

void UploadWorld::SetUp() {
    ASSERT_TRUE(dir_.ok());
    clockScope_ = std::make_unique<ScopedClockSource>(&clock_);
    ui_ = std::make_unique<support::CaptureUI>();
    debug_ = std::make_unique<support::DebugCapture>();
    using support::ProcessObjects;
    process_.emplace(ProcessObjects::kSpecialTags | ProcessObjects::kBus | ProcessObjects::kCoreOptions |
                     ProcessObjects::kClientPool | ProcessObjects::kTransferOptions | ProcessObjects::kCoreThread);
    core_ = coreThread();
    core_->setBaseDirectory(dir_.path().c_str());
    core_->build();
    transferOptions()->load();
    clientPool()->setDialer(&dialer_);
    sides_ = std::make_unique<support::RecordingSides>();
    hub_ = std::make_unique<support::RecordingUploadHub>();
    link_ = std::make_unique<support::PeerLink>();
}

void UploadWorld::TearDown() {
    // Peers leave the peer pool (their uploads end) before it goes.
    link_.reset();
    clientPool()->setDialer(nullptr);
    threads_wait_all();
    process_.reset();
    clearNetworkProtocol();
    hub_.reset();
    sides_.reset();
    debug_.reset();
    ui_.reset();
    clockScope_.reset();
}

UserMeta UploadWorld::userOf(int number) {
    std::string nick = "peer" + std::to_string(number);
    UserMeta user = makeUser(nick.c_str(), 0x0A000001u + static_cast<uint32_t>(number) * 256u,
                             static_cast<uint16_t>(4000 + number), static_cast<uint8_t>(100 + number));
    return user;
}

Peer* UploadWorld::connectPeer(int number, bool verified) {
    UserMeta user = userOf(number);
    user.setHelloVerified(verified ? 1 : 0);
    return link_->open(user);
}

FileMeta* UploadWorld::shareFile(const UniqueID& hash, const std::string& name, const std::string& bytes,
                                 int priority) {
    support::write_file(dir_ / ("shared/" + name), bytes);
    FileMeta* file = sides_->shares.share(hash, static_cast<uint32_t>(bytes.size()), name.c_str(), dir_ / "shared");
    int32_t value = priority;
    file->setSpecial(ST_UPLOAD_PRIORITY, &value);
    return file;
}

std::vector<Frame> UploadWorld::drain(Peer* peer) {
    link_->flush(peer);
    return link_->frames(peer);
}

std::vector<int> UploadWorld::opcodes(const std::vector<Frame>& frames) {
    std::vector<int> out;
    for (const Frame& frame : frames) out.push_back(frame.opcode);
    return out;
}

std::string UploadWorld::takeDebug() {
    std::string all = debug_->text();
    std::string fresh = all.substr(debugSeen_);
    debugSeen_ = all.size();
    return fresh;
}

bool RecordingQueueHost::slotHasUser(const UserMeta& user) {
    for (const UserMeta& held : inSlots)
        if (held.sameUser(&user)) return true;
    return false;
}

namespace {
// A connection that only takes room in the socket pool.
class IdleConnection : public Connection {
public:
    IdleConnection() { setSocket(new support::FakeSocket()); }
    bool doTask() override { return false; }
};
}  // namespace

void UploadPoolWorld::SetUp() {
    UploadWorld::SetUp();
    pool_ = std::make_unique<UploadPool>();
    // A line neither empty nor full: the tuner tries nothing.
    coreOptions()->setUploadLimit(10.0);
    pool_->tuner().setSendRate([] { return 9.2; });
    clientPool()->addHandler(pool_.get());
    setPeerUploads(pool_.get());
    downloadServices().uploads = pool_.get();
}

void UploadPoolWorld::TearDown() {
    // Peers go while the pool follows them; then the pool.
    link_.reset();
    setPeerUploads(nullptr);
    downloadServices().uploads = nullptr;
    pool_.reset();
    UploadWorld::TearDown();
}

void UploadPoolWorld::shareTwoFiles() {
    hub_->hashed = true;
    shareFile(hashOf(1), "one.bin", patternBytes(kBig, 1), 0);
    shareFile(hashOf(2), "two.bin", patternBytes(kBig, 2), 0);
}

void UploadPoolWorld::askPart(Peer* peer, const UniqueID& hash, uint32_t start, uint32_t end) {
    const uint32_t starts[3] = {start, 0, 0};
    const uint32_t ends[3] = {end, 0, 0};
    pool_->partRequest(peer, hash, starts, ends);
}

void UploadPoolWorld::tickPool(int ms) {
    clock_.advanceMs(ms);
    pool_->tick(ms);
}

std::vector<int> UploadPoolWorld::controls(Peer* peer, int services) {
    for (int i = 0; i < services; i++) link_->serve();
    std::vector<int> out;
    for (const Frame& frame : link_->frames(peer))
        if (frame.opcode != ICLT_DATA) out.push_back(frame.opcode);
    return out;
}

void UploadPoolWorld::fillCoreWith(int connections) {
    for (int i = 0; i < connections; i++) core_->socketPool()->add(new IdleConnection());
}

}  // namespace uploadtest
