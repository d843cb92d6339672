#include "net_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/net/budgets.h"
#include "core/net/network_protocol.h"
#include "v4ada/net/address.h"

namespace coretest {

FakeSocket::~FakeSocket() {
    if (destroyed != nullptr) *destroyed = true;
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
    return false;
}

int FakeSocket::receiveFrom(void* buffer, int n, i4_address** from) {
    *from = nullptr;
    if (datagrams.empty()) return 0;
    std::string datagram = datagrams.front();
    datagrams.pop_front();
    int count = static_cast<int>(datagram.size()) < n ? static_cast<int>(datagram.size()) : n;
    std::memcpy(buffer, datagram.data(), static_cast<size_t>(count));
    uint8_t ip[4] = {127, 0, 0, 1};
    *from = new i4_tcpip_address(ip, 4000);
    return count;
}

int FakeSocket::sendTo(const void* buffer, int n, const i4_address*) {
    sentDatagrams.emplace_back(static_cast<const char*>(buffer), static_cast<size_t>(n));
    return sendToResult != 0 ? sendToResult : n;
}

int FakeSocket::waitUntil(int flags, int timeoutMs, i4_progress*) {
    return onWait ? onWait(flags, timeoutMs) : 0;
}

int FakeSocketSet::wait(int timeoutMs) {
    timeouts.push_back(timeoutMs);
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
    if (sscanf(host, "%u.%u.%u.%u", &a, &b, &c, &d) != 4) return nullptr;
    uint8_t ip[4] = {static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(c),
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
    previous_ = setNetworkProtocol(std::move(protocol));
    budgets_reset();
}

ProtocolScope::~ProtocolScope() {
    setNetworkProtocol(previous_);
    budgets_reset();
}

CaptureUI::CaptureUI() { previous_ = setCurrentUI(this); }
CaptureUI::~CaptureUI() { setCurrentUI(previous_); }

namespace {
std::string formatted(const char* format, va_list args) {
    OwnedString text;
    text.vformat(format, args);
    return text.c_str() != nullptr ? text.c_str() : "";
}
}  // namespace

void CaptureUI::vprint(const char* format, va_list args) { printed.push_back(formatted(format, args)); }
void CaptureUI::vprintRaw(const char* format, va_list args) { printed.push_back(formatted(format, args)); }
void CaptureUI::vlog(const char* format, va_list args) { logged.push_back(formatted(format, args)); }

std::shared_ptr<i4_tcpip_protocol> loopbackProtocol() {
    std::shared_ptr<i4_tcpip_protocol> protocol(i4_tcpip_protocol::create(0, nullptr));
    protocol->setBindAddress(htonl(INADDR_LOOPBACK));
    return protocol;
}

int localPort(i4_socket* socket) {
    i4_tcpip_address* address = socket->localAddress();
    int port = address != nullptr ? address->port() : 0;
    delete address;
    return port;
}

namespace {
sockaddr_in loopbackAddress(int port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}
}  // namespace

int rawConnect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopbackAddress(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int rawUdp(int* port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = loopbackAddress(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return fd;
}

int rawRefusingTcp(int* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopbackAddress(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return fd;
}

void rawSendTo(int fd, int port, const std::string& bytes) {
    sockaddr_in address = loopbackAddress(port);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof(address));
}

std::string rawRead(int fd, int timeoutMs, bool* closed) {
    if (closed != nullptr) *closed = false;
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, timeoutMs) <= 0) return "";
    char buffer[65536];
    ssize_t n = ::recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
    if (n <= 0) {
        if (closed != nullptr) *closed = n == 0 || errno == ECONNRESET;
        return "";
    }
    return std::string(buffer, static_cast<size_t>(n));
}

void rawWrite(int fd, const std::string& bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

std::string le32(uint32_t value) {
    std::string out;
    for (int i = 0; i < 4; i++) out.push_back(static_cast<char>(value >> (8 * i)));
    return out;
}

std::string frame(uint8_t opcode, const std::string& payload, uint8_t marker) {
    std::string out;
    out.push_back(static_cast<char>(marker));
    out += le32(static_cast<uint32_t>(payload.size() + 1));
    out.push_back(static_cast<char>(opcode));
    out += payload;
    return out;
}

}  // namespace coretest
