#include "transfer/uploads/upload_world_fixture.h"

#include "core/bus/message_q.h"
#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "core/startup/network_setup.h"
#include "support/files.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
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
    initSpecialTags();
    message_bus_create();
    CoreOptions::createInstance();
    ClientPool::createInstance();
    TransferOptions::createInstance();
    CoreThread::createInstance();
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
    CoreThread::destroyInstance();
    TransferOptions::destroyInstance();
    ClientPool::destroyInstance();
    CoreOptions::destroyInstance();
    message_bus_destroy();
    clearNetworkProtocol();
    hub_.reset();
    sides_.reset();
    resetSpecialTags();
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

}  // namespace uploadtest
