#include "transfer/peer/peer_world_fixture.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/bus/message_q.h"
#include "core/meta/special_tags.h"
#include "core/net/check_trailer.h"
#include "core/net/network_protocol.h"
#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "core/startup/network_setup.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer_door.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/net/socket.h"
#include "support/bytes.h"
#include "support/loopback.h"
#include "v4ada/threads/linux/threads.h"

namespace transfertest {

// ---- scripted client ----

FrameClient::~FrameClient() {
    if (fd_ >= 0) ::close(fd_);
}

void FrameClient::send(uint8_t opcode, const std::string& payload) { sendRaw(frame(opcode, payload)); }

void FrameClient::sendRaw(const std::string& bytes) { support::raw_write(fd_, bytes); }

FrameClient::FrameClient(int fd) : fd_(fd) {
    // Small frames leave at once instead of waiting for an acknowledgement.
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

bool FrameClient::poll(int timeoutMs) {
    if (closed) return false;
    for (int wait = timeoutMs;; wait = 0) {
        bool gone = false;
        std::string got = support::raw_read(fd_, wait, &gone);
        if (gone) closed = true;
        if (got.empty()) break;
        pending_ += got;
    }
    while (pending_.size() >= 5) {
        uint32_t length = static_cast<uint8_t>(pending_[1]) | static_cast<uint8_t>(pending_[2]) << 8 |
                          static_cast<uint8_t>(pending_[3]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(pending_[4])) << 24;
        if (pending_.size() < 5 + static_cast<size_t>(length) || length == 0) break;
        frames.push_back(Frame{static_cast<uint8_t>(pending_[5]), pending_.substr(6, length - 1)});
        pending_.erase(0, 5 + length);
    }
    return !closed;
}

// ---- wire helpers ----

std::string le16(uint16_t value) {
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

std::string le32(uint32_t value) { return support::as_text(support::le32(value)); }

std::string frame(uint8_t opcode, const std::string& payload) { return support::tcp_frame(opcode, payload); }

std::string hashBytes(const UniqueID& hash) { return std::string(reinterpret_cast<const char*>(hash.bytes()), 16); }

std::string userWire(UserMeta& user) {
    uint8_t buffer[4096];
    i4_ram_file_class file(buffer, sizeof(buffer), 0);
    user.toNetwork(&file);
    return std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(file.tell()));
}

std::string helloPayload(UserMeta& user, uint32_t buddyIp, uint16_t buddyPort, bool sizeByte, bool rightCode,
                         int codeBytes) {
    std::string message(1, static_cast<char>(sizeByte ? ICLT_HELLO : ICLT_HELLO_ANSWER));
    if (sizeByte) message.push_back(static_cast<char>(kHelloHashSize));
    message += userWire(user) + le32(buddyIp) + le16(buddyPort) + std::string(4, '\0');
    messageCheckTrailer(reinterpret_cast<uint8_t*>(message.data()), message.size(), static_cast<int16_t>(user.port()));
    if (!rightCode) message.back() = static_cast<char>(message.back() ^ 0x5A);
    message.resize(message.size() - 4 + static_cast<size_t>(codeBytes));
    return message.substr(1);
}

bool codeVerifies(uint8_t opcode, const std::string& payload, int port) {
    std::string message = std::string(1, static_cast<char>(opcode)) + payload;
    return messageCheckTrailer(reinterpret_cast<uint8_t*>(message.data()), message.size(), static_cast<int16_t>(port));
}

UserMeta makeUser(const char* nickname, uint32_t ip, uint16_t port, uint8_t hashByte) {
    UserMeta user;
    user.setNickname(nickname);
    user.setIp(ip);
    user.setPort(port);
    user.setUserHash(hashOf(hashByte));
    return user;
}

// ---- world ----

void PeerWorld::SetUp() {
    ASSERT_FALSE(dir_.path().empty());
    clockScope_ = std::make_unique<ScopedClockSource>(&clock_);
    capture_ = std::make_unique<support::CaptureUI>();
    initSpecialTags();
    message_bus_create();
    CoreOptions::createInstance();
    ClientPool::createInstance();
    TransferOptions::createInstance();
    CoreThread::createInstance();
    core_ = coreThread();
    core_->setBaseDirectory(dir_.path().c_str());
    core_->build();
    // Everything listens on the loopback only.
    setNetworkProtocol(std::shared_ptr<i4_protocol>(support::loopback_protocol()));
    clientPool()->addHandler(&handler_);
    transferHandler_.registerAll(messageQ);
    transferOptions()->load();
    // Joins the pool and the bus to the task list.
    core_->step();
}

void PeerWorld::TearDown() {
    threads_wait_all();
    transferHandler_.unregisterAll(messageQ);
    CoreThread::destroyInstance();
    closePeerDoor();
    TransferOptions::destroyInstance();
    ClientPool::destroyInstance();
    CoreOptions::destroyInstance();
    message_bus_destroy();
    clearNetworkProtocol();
    resetSpecialTags();
    capture_.reset();
    clockScope_.reset();
}

void PeerWorld::step(int ms) {
    clock_.advanceMs(ms);
    core_->step();
}

bool PeerWorld::stepUntil(const std::function<bool()>& condition, int ms) {
    for (int i = 0; i < 300; i++) {
        if (condition()) return true;
        step(ms);
    }
    return condition();
}

Peer* PeerWorld::accept(std::unique_ptr<FrameClient>* client) {
    std::shared_ptr<i4_protocol> protocol = networkProtocol();
    i4_socket* listener = protocol->listen(0, 0, kSocketStream, nullptr);
    if (!listener) return nullptr;
    *client = std::make_unique<FrameClient>(support::raw_connect(support::local_port(listener)));
    i4_socket* accepted = nullptr;
    listener->accept(&accepted);
    listener->close();
    delete listener;
    if (!accepted) return nullptr;
    accepted->setBlocking(false);
    auto peer = new Peer(accepted);
    core_->socketPool()->add(peer);
    step();
    return peer;
}

Peer* PeerWorld::acceptHello(std::unique_ptr<FrameClient>* client, UserMeta user) {
    Peer* peer = accept(client);
    if (!peer) return nullptr;
    (*client)->send(ICLT_HELLO, helloPayload(user, 0, 0, true, true));
    if (!stepUntil([&] { return clientPool()->contains(peer); })) return nullptr;
    return peer;
}

bool PeerWorld::awaitFrames(FrameClient& client, size_t count) {
    return stepUntil([&] {
        client.poll(kReplyWaitMs);
        return client.frames.size() >= count || client.closed;
    }) && client.frames.size() >= count;
}

bool PeerWorld::awaitClose(FrameClient& client) {
    return stepUntil([&] {
        client.poll(kReplyWaitMs);
        return client.closed;
    });
}

}  // namespace transfertest
