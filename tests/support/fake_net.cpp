#include "support/fake_net.h"

#include <cstdio>
#include <cstring>

#include "core/net/budgets.h"
#include "core/net/network_protocol.h"
#include "v4ada/net/address.h"

namespace support {

FakeSocket::~FakeSocket() {
    for (i4_socket* socket : acceptable) delete socket;
    if (destroyed != nullptr) *destroyed = true;
}

i4_tcpip_address* FakeSocket::peerAddress() {
    if (peerIp == 0) return nullptr;
    const uint8_t ip[4] = {static_cast<uint8_t>(peerIp >> 24), static_cast<uint8_t>(peerIp >> 16),
                           static_cast<uint8_t>(peerIp >> 8), static_cast<uint8_t>(peerIp)};
    return new i4_tcpip_address(ip, 0);
}

void FakeSocket::queueReads(const std::string& stream, size_t piece) {
    if (piece == 0) piece = 1;
    for (size_t at = 0; at < stream.size(); at += piece) reads.push_back(stream.substr(at, piece));
}

int FakeSocket::read(void* buffer, int n) {
    if (reads.empty()) return peerClosed ? -1 : 0;
    std::string& front = reads.front();
    int count = static_cast<int>(front.size()) < n ? static_cast<int>(front.size()) : n;
    std::memcpy(buffer, front.data(), static_cast<size_t>(count));
    front.erase(0, static_cast<size_t>(count));
    if (front.empty()) reads.pop_front();
    return count;
}

int FakeSocket::write(const void* buffer, int n) {
    if (writeResult < 0) return -1;
    int count = writeLimit >= 0 && writeLimit < n ? writeLimit : n;
    written.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
    return count;
}

bool FakeSocket::accept(i4_socket** out) {
    *out = nullptr;
    if (acceptable.empty()) return false;
    *out = acceptable.front();
    acceptable.pop_front();
    return true;
}

int FakeSocket::receiveFrom(void* buffer, int n, i4_address** from) {
    *from = nullptr;
    if (datagrams.empty()) return 0;
    std::string datagram = std::move(datagrams.front());
    datagrams.pop_front();
    int count = static_cast<int>(datagram.size()) < n ? static_cast<int>(datagram.size()) : n;
    std::memcpy(buffer, datagram.data(), static_cast<size_t>(count));
    const uint8_t ip[4] = {127, 0, 0, 1};
    *from = new i4_tcpip_address(ip, datagramPort);
    return count;
}

int FakeSocket::sendTo(const void* buffer, int n, const i4_address*) {
    if (datagramRoom == 0) return 0;
    if (datagramRoom > 0) datagramRoom--;
    sentDatagrams.emplace_back(static_cast<const char*>(buffer), static_cast<size_t>(n));
    return sendToResult != 0 ? sendToResult : n;
}

int FakeSocket::waitUntil(int flags, int timeoutMs, i4_progress*) {
    return onWait ? onWait(flags, timeoutMs) : 0;
}

int FakeSocketSet::wait(int timeoutMs) {
    timeouts.push_back(timeoutMs);
    masks.push_back(mask);
    if (results.empty()) return 1;
    int result = results.front();
    results.pop_front();
    return result;
}

i4_socket_set* FakeProtocol::newSocketSet() {
    lastSet = new FakeSocketSet();
    return lastSet;
}

i4_address* FakeProtocol::resolve(const char* host) {
    unsigned a, b, c, d;
    char extra;
    if (std::sscanf(host, "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 || a > 255 || b > 255 || c > 255 || d > 255)
        return nullptr;
    const uint8_t ip[4] = {static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(c),
                           static_cast<uint8_t>(d)};
    return new i4_tcpip_address(ip, 0);
}

i4_socket* FakeProtocol::connect(const i4_address* address, int, bool) {
    return onConnect ? onConnect(address) : nullptr;
}

i4_socket* FakeProtocol::listen(int port, int, int type, const i4_address*) {
    return onListen ? onListen(port, type) : nullptr;
}

ProtocolScope::ProtocolScope(std::shared_ptr<i4_protocol> protocol) {
    previous_ = installNetworkProtocol(std::move(protocol));
    budgets_reset();
}

ProtocolScope::~ProtocolScope() {
    installNetworkProtocol(previous_);
    budgets_reset();
}

}  // namespace support
