// Helpers of the network tests: loopback addresses and listeners, and a
// capture of the debug output.
#pragma once

#include <memory>
#include <string>

#include "v4ada/file/ram_file.h"
#include "v4ada/net/address.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/socket.h"

namespace nettest {

// 127.0.0.1 with the port.
std::unique_ptr<i4_tcpip_address> loopback(int port);

// A protocol whose listen binds 127.0.0.1 only.
i4_tcpip_protocol* loopback_protocol(const ProxySettings* settings);

// A listening stream socket on an OS-chosen port (through a protocol
// without proxy); port() tells which.
class Listener {
public:
    Listener();
    i4_socket* socket() { return socket_.get(); }
    int port() const { return port_; }

private:
    std::unique_ptr<i4_tcpip_protocol> protocol_;
    std::unique_ptr<i4_socket> socket_;
    int port_ = 0;
};

// Captures the debug output while it lives.
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    std::string text();

private:
    i4_file* previous_;
    i4_ram_file_class file_{nullptr, 0, 64};
};

}  // namespace nettest
