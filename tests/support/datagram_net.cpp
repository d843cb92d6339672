#include "support/datagram_net.h"

#include <algorithm>
#include <cstring>

#include "core/net/budgets.h"
#include "core/net/ip_text.h"
#include "core/net/socket_pool.h"
#include "core/net/udp_annex.h"
#include "support/fake_net.h"
#include "v4ada/net/address.h"
#include "v4ada/net/ready_flags.h"

namespace support {

namespace {
// The pool only asks its protocol for a socket set that is always ready.
class ReadySet : public i4_socket_set {
public:
    int wait(int) override { return 1; }
};

class ReadyProtocol : public i4_protocol {
public:
    const char* name() const override { return "memory"; }
    i4_socket_set* newSocketSet() override { return new ReadySet(); }
    i4_address* resolve(const char*) override { return nullptr; }
    i4_socket* connect(const i4_address*, int, bool) override { return nullptr; }
    bool localHostInfo(HostInfo*) override { return false; }
    i4_socket* listen(int, int, int, const i4_address*) override { return nullptr; }
};

i4_tcpip_address* addressOf(uint32_t ip, int port) {
    uint8_t bytes[4];
    ipToBytes(ip, bytes);
    return new i4_tcpip_address(bytes, port);
}
}  // namespace

uint32_t ip(const char* dotted) { return ipFromText(dotted); }

MemorySocket::~MemorySocket() { network_.unbind(this); }

bool MemorySocket::accept(i4_socket** out) {
    *out = nullptr;
    return false;
}

int MemorySocket::receiveFrom(void* buffer, int n, i4_address** from) {
    *from = nullptr;
    if (inbox.empty()) return 0;
    Datagram datagram = std::move(inbox.front());
    inbox.pop_front();
    int count = std::min(static_cast<int>(datagram.bytes.size()), n);
    std::memcpy(buffer, datagram.bytes.data(), static_cast<size_t>(count));
    *from = addressOf(datagram.fromIp, datagram.fromPort);
    return count;
}

int MemorySocket::sendTo(const void* buffer, int n, const i4_address* to) {
    if (to == nullptr || n < 0) return -1;
    Datagram datagram;
    datagram.fromIp = ip_;
    datagram.fromPort = port_;
    datagram.toIp = addressToIp(to);
    datagram.toPort = to->port();
    datagram.bytes.assign(static_cast<const char*>(buffer), static_cast<size_t>(n));
    network_.deliver(std::move(datagram));
    return n;
}

int MemorySocket::waitUntil(int flags, int, i4_progress*) { return checkInSet(nullptr, flags); }

int MemorySocket::checkInSet(i4_socket_set*, int flags) {
    int ready = kWritable | (inbox.empty() ? 0 : kReadable);
    return ready & flags;
}

i4_tcpip_address* MemorySocket::localAddress() { return addressOf(ip_, port_); }

void DatagramPeer::sendTo(uint32_t toIp, int toPort, const std::string& bytes) {
    Datagram datagram;
    datagram.fromIp = ip_;
    datagram.fromPort = port_;
    datagram.toIp = toIp;
    datagram.toPort = toPort;
    datagram.bytes = bytes;
    network_.deliver(std::move(datagram));
}

std::vector<Datagram> DatagramPeer::receivedWith(uint8_t opcode) const {
    std::vector<Datagram> found;
    for (const Datagram& datagram : received)
        if (datagram.opcode() == opcode) found.push_back(datagram);
    return found;
}

MemoryNetwork::MemoryNetwork() : bandwidth_(std::make_unique<FakeBandwidth>()) {
    ProtocolScope scope(std::make_shared<ReadyProtocol>());
    pool_ = std::make_unique<STSocketPool>(bandwidth_.get());
}

MemoryNetwork::~MemoryNetwork() {
    // The pool deletes the endpoints and with them their sockets.
    pool_.reset();
}

MemorySocket* MemoryNetwork::bind(uint32_t address, int port) {
    if (port == 0) {
        while (sockets_.count(key(address, nextPort_)) || peers_.count(key(address, nextPort_))) nextPort_++;
        port = nextPort_++;
    }
    if (sockets_.count(key(address, port)) || peers_.count(key(address, port))) return nullptr;
    auto socket = new MemorySocket(*this, address, port);
    sockets_[key(address, port)] = socket;
    return socket;
}

void MemoryNetwork::unbind(MemorySocket* socket) {
    auto found = sockets_.find(key(socket->ip(), socket->port()));
    if (found != sockets_.end() && found->second == socket) sockets_.erase(found);
}

DatagramPeer* MemoryNetwork::addPeer(uint32_t address, int port) {
    if (sockets_.count(key(address, port)) || peers_.count(key(address, port))) return nullptr;
    auto peer = std::make_unique<DatagramPeer>(*this, address, port);
    DatagramPeer* result = peer.get();
    peers_[key(address, port)] = std::move(peer);
    return result;
}

DatagramPeer* MemoryNetwork::peerAt(uint32_t address, int port) {
    auto found = peers_.find(key(address, port));
    return found != peers_.end() ? found->second.get() : nullptr;
}

void MemoryNetwork::serve(UDPAnnex* endpoint) {
    endpoints_.push_back(endpoint);
    served_.insert(endpoint);
    endpointOf_[static_cast<MemorySocket*>(endpoint->socket())] = endpoint;
    pool_->add(endpoint);
    pool_->applyPending();
}

void MemoryNetwork::leave(UDPAnnex* endpoint) {
    endpoints_.erase(std::remove(endpoints_.begin(), endpoints_.end(), endpoint), endpoints_.end());
    served_.erase(endpoint);
    auto mapped = endpointOf_.find(static_cast<MemorySocket*>(endpoint->socket()));
    if (mapped != endpointOf_.end() && mapped->second == endpoint) endpointOf_.erase(mapped);
    if (busySet_.erase(endpoint) > 0) busy_.erase(std::remove(busy_.begin(), busy_.end(), endpoint), busy_.end());
    pool_->remove(endpoint);
}

void MemoryNetwork::markBusy(UDPAnnex* endpoint) {
    if (busySet_.insert(endpoint).second) busy_.push_back(endpoint);
}

void MemoryNetwork::serveOnce(int elapsedMs) {
    budgets_reset();
    pool_->tick(elapsedMs);
}

bool MemoryNetwork::busy(UDPAnnex* endpoint) {
    if (endpoint->queuedPackets() > 0) return true;
    auto socket = static_cast<MemorySocket*>(endpoint->socket());
    return socket != nullptr && !socket->inbox.empty();
}

bool MemoryNetwork::busy() {
    for (UDPAnnex* endpoint : endpoints_)
        if (busy(endpoint)) return true;
    return false;
}

bool MemoryNetwork::settle(int maxRounds) {
    pool_->applyPending();
    // What the gateways queued since the last settle, then only those that
    // still have something or were sent something.
    for (UDPAnnex* endpoint : endpoints_)
        if (endpoint->queuedPackets() > 0) markBusy(endpoint);
    for (int round = 0; round < maxRounds && !busy_.empty(); round++) {
        std::vector<UDPAnnex*> serving;
        serving.swap(busy_);
        busySet_.clear();
        budgets_reset();
        for (UDPAnnex* endpoint : serving) {
            // A handler of an earlier endpoint may have let this one go.
            if (served_.count(endpoint) == 0) continue;
            endpoint->doTask();
        }
        for (UDPAnnex* endpoint : serving)
            if (served_.count(endpoint) > 0 && busy(endpoint))
                markBusy(endpoint);
        pool_->applyPending();
    }
    pool_->applyPending();
    return busy_.empty();
}

void MemoryNetwork::setLoss(double fraction, unsigned seed) {
    loss_ = fraction;
    lossRandom_.seed(seed);
}

void MemoryNetwork::advanceTime(int ms) {
    now_ += ms;
    while (!delayed_.empty() && delayed_.front().first <= now_) {
        Datagram datagram = std::move(delayed_.front().second);
        delayed_.pop_front();
        arrive(std::move(datagram));
    }
}

void MemoryNetwork::deliver(Datagram datagram) {
    if (recording) log.push_back(datagram);
    if (onDeliver) onDeliver(datagram);
    if (loss_ > 0.0 && std::uniform_real_distribution<double>(0.0, 1.0)(lossRandom_) < loss_) {
        dropped_++;
        return;
    }
    if (delayMs_ > 0) {
        delayed_.emplace_back(now_ + delayMs_, std::move(datagram));
        return;
    }
    arrive(std::move(datagram));
}

void MemoryNetwork::arrive(Datagram datagram) {
    uint64_t to = key(datagram.toIp, datagram.toPort);
    auto socket = sockets_.find(to);
    if (socket != sockets_.end()) {
        delivered_++;
        MemorySocket* target = socket->second;
        target->inbox.push_back(std::move(datagram));
        auto endpoint = endpointOf_.find(target);
        if (endpoint != endpointOf_.end()) markBusy(endpoint->second);
        return;
    }
    auto peer = peers_.find(to);
    if (peer == peers_.end() || !peer->second->listening) {
        dropped_++;
        return;
    }
    delivered_++;
    DatagramPeer& target = *peer->second;
    target.received.push_back(datagram);
    if (target.onDatagram) target.onDatagram(target, datagram);
}

}  // namespace support
