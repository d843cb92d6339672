// The loopback network for tests: plain POSIX sockets on 127.0.0.1 that
// are independent of the code under test, and the library's protocol
// bound to 127.0.0.1. Ports are always chosen by the OS and stay bound for
// as long as the socket is open (no port is closed and handed on).
#pragma once

#include <memory>
#include <string>

#include "v4ada/net/address.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/socket.h"

class ProxySettings;

namespace support {

// --- Raw sockets (descriptors; the caller closes them) ---

// A listening TCP socket on an OS-chosen port; -1 on failure. With a
// backlog of 0 one connection fills the accept queue, and the kernel drops
// every further connection request while it is there.
int raw_listen(int* port, int backlog = 16);
// A blocking TCP client connected to 127.0.0.1:port, or -1.
int raw_connect(int port);
// A UDP socket bound to an OS-chosen port.
int raw_udp(int* port);
// A TCP socket bound to an OS-chosen port without listening: while it is
// open, connects to that port are refused.
int raw_refusing_tcp(int* port);
void raw_send_to(int fd, int port, const std::string& bytes);
// Waits up to timeoutMs for bytes and reads what there is ("" at the end
// or on time-out); *closed tells whether the peer closed.
std::string raw_read(int fd, int timeoutMs, bool* closed = nullptr);
void raw_write(int fd, const std::string& bytes);

// --- The library's protocol ---

// 127.0.0.1 with the port.
std::unique_ptr<i4_tcpip_address> loopback_address(int port);
// A protocol whose listen binds 127.0.0.1 only, with the proxy settings
// (null: none).
std::shared_ptr<i4_tcpip_protocol> loopback_protocol(const ProxySettings* proxy = nullptr);
// A protocol through a proxy at 127.0.0.1:port (listening on 127.0.0.1).
std::shared_ptr<i4_tcpip_protocol> proxied_protocol(int type, int port, const char* user = nullptr,
                                                    const char* password = nullptr);
// The local port of a socket made by a protocol; 0 when unknown.
int local_port(i4_socket* socket);

// A listening stream socket of the library on an OS-chosen port.
class Listener {
public:
    Listener();
    i4_socket* socket() { return socket_.get(); }
    int port() const { return port_; }

private:
    std::shared_ptr<i4_tcpip_protocol> protocol_;
    std::unique_ptr<i4_socket> socket_;
    int port_ = 0;
};

}  // namespace support
