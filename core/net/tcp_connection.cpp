#include "core/net/tcp_connection.h"

#include <memory>

#include "core/net/ip_text.h"
#include "core/net/net_output.h"
#include "core/net/network_protocol.h"
#include "core/net/socket_pool.h"
#include "core/net/tcp_packet.h"
#include "v4ada/error/error.h"
#include "v4ada/net/address.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket.h"

TCPConnection::TCPConnection(uint32_t remoteIp, int remotePort, uint8_t marker)
    : readPacket_(marker), remoteIp_(remoteIp), remotePort_(remotePort) {
    ipToText(remoteIp, ipText_);
}

TCPConnection::TCPConnection(i4_socket* socket, uint8_t marker) : readPacket_(marker), ipText_("") {
    setSocket(socket);
}

TCPConnection::~TCPConnection() {
    // One walk and one clear: a long queue is freed in linear time.
    sendQueue_.lock();
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sendQueue_, &cursor)) delete static_cast<TCPPacket*>(element);
    sendQueue_.LL::clear();
    sendQueue_.unlock();
}

bool TCPConnection::attach(SocketPool* pool) {
    bool attached = Connection::attach(pool);
    if (attached && outgoing_) connected();
    return attached;
}

const char* TCPConnection::status(OwnedString& out) {
    out = "TCP";
    return out.c_str();
}

void TCPConnection::setRemoteIp(uint32_t ip) {
    remoteIp_ = ip;
    ipToText(ip, ipText_);
}

uint32_t TCPConnection::socketPeerIp() {
    if (socket_ == nullptr) return 0;
    i4_tcpip_address* address = socket_->peerAddress();
    uint32_t ip = addressToIp(address);
    delete address;
    return ip;
}

void TCPConnection::queue(TCPPacket* packet) {
    if (packet != nullptr) sendQueue_.append(packet);
}

void TCPConnection::closeAfterFlush() { queue(new TCPPacket(1, 0, true)); }

void TCPConnection::drop() {
    if (pool_ != nullptr) pool_->remove(this);
}

bool TCPConnection::onMessage(uint8_t opcode, i4_ram_file_class*) {
    debug_printf("Unknown msg from TCPConnection: %d\n", opcode);
    return true;
}

bool TCPConnection::onFirstMessage(uint8_t opcode, i4_ram_file_class* body) { return onMessage(opcode, body); }

bool TCPConnection::doTask() {
    try {
        if (closeNow_ || socket_ == nullptr) {
            drop();
            return false;
        }
        int flags = socket_->checkInSet(pool_->socketSet(), kReadable | kWritable | kReadyError);
        if (flags & kReadyError) {
            drop();
            return false;
        }
        bool worked = false;
        if (flags & kReadable) {
            int total = 0;
            int got = 0;
            while (total < kServiceByteCap && !closeNow_ && readStep(&got) && got > 0) total += got;
            if (total > 0) worked = true;
        }
        if (flags & kWritable) {
            int total = 0;
            int wrote = 0;
            // A packet that goes out whole may queue the next (uploads).
            while (total < kServiceByteCap && !closeNow_ && sendQueue_.count() > 0) {
                bool whole = sendStep(&wrote);
                total += wrote;
                if (!whole) break;
                worked = true;
            }
            if (total > 0) worked = true;
        }
        return worked;
    } catch (i4_err&) {
        OwnedString text;
        debug_printf("Exception in TCPConnection::doTask %s\n", ipToText(remoteIp_, text));
        drop();
        return false;
    }
}

int TCPConnection::wantedFlags() {
    int flags = kReadable | kReadyError;
    if (closeNow_ || sendQueue_.count() > 0) flags |= kWritable;
    return flags;
}

bool TCPConnection::readStep(int* gotOut) {
    int got = 0;
    int result = readPacket_.read(socket_, &got);
    *gotOut = got;
    countReceived(got);
    if (result == Packet::kFailed) {
        readPacket_.reset();
        drop();
        return false;
    }
    if (result == Packet::kPartial) return true;
    // The frame is handed on below, and the next read starts afresh.
    if (got == 0) *gotOut = 1;
    // A whole frame: a view over exactly its body.
    i4_ram_file_class body(const_cast<uint8_t*>(readPacket_.body()), readPacket_.bodyLength(), 0);
    uint8_t opcode = body.read_8();
    bool keep;
    if (!firstSeen_) {
        firstSeen_ = true;
        keep = onFirstMessage(opcode, &body);
    } else {
        keep = onMessage(opcode, &body);
    }
    if (keep) {
        readPacket_.reset();
        return true;
    }
    drop();
    return false;
}

bool TCPConnection::sendStep(int* wroteOut) {
    *wroteOut = 0;
    sendQueue_.lock();
    auto head = static_cast<TCPPacket*>(sendQueue_.first());
    sendQueue_.unlock();
    if (head == nullptr) return false;
    if (head->closeFlag()) {
        drop();
        return false;
    }
    int written = 0;
    int result = head->send(socket_, &written);
    *wroteOut = written;
    countSent(written);
    if (result == Packet::kFailed) {
        sendQueue_.remove(head);
        delete head;
        drop();
        return false;
    }
    if (result == Packet::kComplete) {
        sendQueue_.remove(head);
        head->sent();
        delete head;
        return true;
    }
    return false;
}

bool TCPConnection::connect(SocketPool* pool) {
    if (socket_ != nullptr) return true;
    if (!open()) return false;
    pool->add(this);
    return true;
}

bool TCPConnection::open() {
    if (socket_ != nullptr) return true;
    // Our own reference: a rebuild of the protocol meanwhile cannot free
    // the object under this thread.
    std::shared_ptr<i4_protocol> protocol = networkProtocol();
    if (!protocol) {
        net_print_raw("ERROR: Protocol NULL\n");
        connectFailed();
        return false;
    }
    try {
        i4_address* address = protocol->resolve(ipText_.c_str());
        if (address != nullptr) {
            address->setPort(remotePort_);
            i4_socket* socket = protocol->connect(address, kSocketStream, false);
            delete address;
            if (socket != nullptr) {
                setSocket(socket);
                int ready = socket->waitUntil(kWritable | kReadyError, connectTimeoutMs_, nullptr);
                if (ready == kWritable) {
                    socket->setBlocking(false);
                    outgoing_ = true;
                    return true;
                }
            }
        }
    } catch (i4_err&) {
    }
    connectFailed();
    return false;
}
