#include "transfer/peer/peer.h"

#include <cstdint>

#include "core/bus/message_q.h"
#include "core/meta/special_tags.h"
#include "core/net/check_trailer.h"
#include "core/net/tcp_frame.h"
#include "core/net/tcp_packet.h"
#include "core/options/core_options.h"
#include "overlay/gateway/network_gateway.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"

Peer::Peer(uint32_t ip, uint16_t port, bool persistent)
    : TCPConnection(ip, port, kFrameMarker), persistent_(persistent) {
    user_.setIp(ip);
    user_.setPort(port);
    setFrameRule(kHelloFrameMax, TCPReadPacket::kAnyOpcode);
}

Peer::Peer(i4_socket* socket) : TCPConnection(socket, kFrameMarker), persistent_(true), incoming_(true) {
    setFrameRule(kHelloFrameMax, TCPReadPacket::kAnyOpcode);
}

Peer::~Peer() {
    if (ClientPool* pool = ClientPool::instance()) pool->removePeer(this);
}

TCPConnection* Peer::makeConnection(i4_socket* socket) { return new Peer(socket); }

const char* Peer::name() { return user_.nickname(); }

// ---- uses and time ----

void Peer::addRef(const char*) { useCount_++; }

void Peer::release(const char*) {
    useCount_--;
    if (useCount_ <= 0 && !persistent_) closeAfterFlush();
}

void Peer::setKeep(bool keep) {
    keep_ = keep;
    if (keep) idleMs_ = 0;
}

void Peer::tick(int elapsedMs) {
    if (incoming_ && !helloDone_ && elapsedMs > 0) {
        helloWaitMs_ = elapsedMs > kHelloLimitMs ? kHelloLimitMs + 1 : helloWaitMs_ + elapsedMs;
        if (helloWaitMs_ > kHelloLimitMs) markForClose();
    }
    if (!keep_) {
        int64_t idle = static_cast<int64_t>(idleMs_) + elapsedMs;
        idleMs_ = idle > INT32_MAX ? INT32_MAX : static_cast<int32_t>(idle);
        if (idleMs_ > kIdleLimitMs) markForClose();
    }
    TCPConnection::tick(elapsedMs);
}

const char* Peer::status(OwnedString& out) {
    OwnedString speeds;
    speeds.format("(%.2f,%.2f)", receiveAverage(), sendAverage());
    OwnedString nick(user_.nickname());
    out.format("%s [%s:%u] (%d) %d %s [%d] keep: %d", nick.c_str(), TCPConnection::name(),
               static_cast<unsigned>(user_.port()), idleMs_, user_.getSpecialInt(ST_VERSION), speeds.c_str(),
               user_.helloVerified(), keep_ ? 1 : 0);
    return out.c_str();
}

// ---- connection events ----

void Peer::connected() { sendHello(ICLT_HELLO, true); }

void Peer::connectFailed() {
    if (MessageQ* bus = messageQ)
        bus->post(MSG_CONNECT_FAILED, new ConnectFailedRecord{remoteIp(), static_cast<uint16_t>(remotePort())});
}

// ---- addresses ----

void Peer::setAddress(uint32_t ip) {
    if (ip == 0) ip = socketPeerIp();
    user_.setIp(ip);
    setRemoteIp(ip);
}

uint32_t Peer::socketIp() {
    uint32_t ip = socketPeerIp();
    return ip != 0 ? ip : remoteIp();
}

void Peer::checkAddress() {
    if (user_.ip() >= kLowIdLimit && user_.ip() != socketPeerIp()) queueEmpty(ICLT_ADDRESS_MISMATCH);
}

// ---- hellos ----

void Peer::sendHello(uint8_t opcode, bool withSizeByte) {
    CoreOptions* options = coreOptions();
    if (!options) return;
    TCPPacket* packet = newMessage(opcode, options->ownMetaSize() + kHelloExtra);
    PacketBuffer* out = packet->buffer();
    if (withSizeByte) out->write_8(kHelloHashSize);
    options->writeOwnMeta(out);
    out->write_32(gatewayBuddyIp());
    out->write_16(static_cast<uint16_t>(gatewayBuddyPort()));
    out->write_32(0);
    // The code covers the message from the opcode on, its own 4 bytes
    // included.
    size_t length = static_cast<size_t>(out->written()) - kFrameHeaderSize;
    messageCheckTrailer(out->data() + kFrameHeaderSize, length, static_cast<int16_t>(gatewayTcpPort()));
    queue(packet);
}

void Peer::sendHelloAnswer() { sendHello(ICLT_HELLO_ANSWER, false); }

void Peer::readHelloTail(i4_ram_file_class* body) {
    user_.setBuddyIp(body->read_32());
    user_.setBuddyPort(body->read_16());
    bool verified = false;
    if (body->remaining() >= kCheckCodeSize) {
        size_t end = static_cast<size_t>(body->tell()) + kCheckCodeSize;
        verified = messageCheckTrailer(body->data(), end, static_cast<int16_t>(user_.port()));
    }
    user_.setHelloVerified(verified ? 1 : 0);
}

bool Peer::handleHello(i4_ram_file_class* body) {
    if (body->read_8() != kHelloHashSize) return false;
    if (!user_.fromNetwork(body)) return false;
    prValue_ = user_.getInt(kOwnRecordMark);
    ClientPool* pool = ClientPool::instance();
    if (pool && pool->findByUser(&user_)) return false;
    setAddress(user_.ip());
    readHelloTail(body);
    sendHelloAnswer();
    checkAddress();
    helloCompleted();
    if (pool) pool->addPeer(this);
    return true;
}

bool Peer::handleHelloAnswer(i4_ram_file_class* body) {
    if (!user_.fromNetwork(body)) return false;
    prValue_ = user_.getInt(kOwnRecordMark);
    readHelloTail(body);
    setAddress(user_.ip());
    checkAddress();
    helloCompleted();
    if (ClientPool* pool = ClientPool::instance()) pool->addPeer(this);
    return true;
}

bool Peer::onFirstMessage(uint8_t opcode, i4_ram_file_class* body) {
    idleMs_ = 1;
    bool done = false;
    if (opcode == ICLT_HELLO)
        done = handleHello(body);
    else if (opcode == ICLT_HELLO_ANSWER)
        done = handleHelloAnswer(body);
    if (done) setFrameRule(kMaxFrameLength, TCPReadPacket::kAnyOpcode);
    return done;
}

void Peer::helloCompleted() {
    helloDone_ = true;
    // Admitted: the door no longer counts it as waiting.
    lobbySeat().leave();
}
