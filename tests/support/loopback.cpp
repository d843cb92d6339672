#include "support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "v4ada/net/proxy_settings.h"

namespace support {

namespace {

sockaddr_in loopback_sockaddr(int port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// A socket of the type bound to 127.0.0.1 on an OS-chosen port; -1 on
// failure.
int bound_socket(int type, int* port) {
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address = loopback_sockaddr(0);
    socklen_t length = sizeof(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

int raw_listen(int* port, int backlog) {
    int fd = bound_socket(SOCK_STREAM, port);
    if (fd >= 0 && ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int raw_connect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback_sockaddr(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int raw_udp(int* port) { return bound_socket(SOCK_DGRAM, port); }

int raw_refusing_tcp(int* port) { return bound_socket(SOCK_STREAM, port); }

void raw_send_to(int fd, int port, const std::string& bytes) {
    sockaddr_in address = loopback_sockaddr(port);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof(address));
}

std::string raw_read(int fd, int timeoutMs, bool* closed) {
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

void raw_write(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

std::unique_ptr<i4_tcpip_address> loopback_address(int port) {
    const uint8_t ip[4] = {127, 0, 0, 1};
    return std::make_unique<i4_tcpip_address>(ip, port);
}

std::shared_ptr<i4_tcpip_protocol> loopback_protocol(const ProxySettings* proxy) {
    std::shared_ptr<i4_tcpip_protocol> protocol(i4_tcpip_protocol::create(0, proxy));
    protocol->setBindAddress(htonl(INADDR_LOOPBACK));
    return protocol;
}

std::shared_ptr<i4_tcpip_protocol> proxied_protocol(int type, int port, const char* user, const char* password) {
    ProxySettings settings;
    settings.type = type;
    settings.setHost("127.0.0.1");
    settings.port = port;
    settings.setUser(user);
    settings.setPassword(password);
    return loopback_protocol(&settings);
}

int local_port(i4_socket* socket) {
    std::unique_ptr<i4_tcpip_address> address(socket->localAddress());
    return address != nullptr ? address->port() : 0;
}

Listener::Listener() : protocol_(loopback_protocol()) {
    socket_.reset(protocol_->listen(0, 0, kSocketStream, nullptr));
    if (socket_) port_ = local_port(socket_.get());
}

}  // namespace support
