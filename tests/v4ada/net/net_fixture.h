// Helpers of the network tests: loopback addresses and listeners, and a
// capture of the debug output.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "v4ada/file/ram_file.h"
#include "v4ada/net/address.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/proxy_settings.h"
#include "v4ada/net/socket.h"

namespace nettest {

// 127.0.0.1 with the port.
std::unique_ptr<i4_tcpip_address> loopback(int port);

// A protocol whose listen binds 127.0.0.1 only.
i4_tcpip_protocol* loopback_protocol(const ProxySettings* settings);

// A protocol through a proxy at 127.0.0.1:port (listening on 127.0.0.1).
std::unique_ptr<i4_tcpip_protocol> proxied_protocol(int type, int port, const char* user = nullptr,
                                                    const char* password = nullptr);

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


// A raw listening socket on 127.0.0.1 (OS-chosen port), independent of the
// code under test.
int raw_listen(int* port);

// A scripted peer on 127.0.0.1: accepts one connection and plays the steps
// in order; then, with echo set, echoes everything until the peer closes.
class ScriptedPeer {
public:
    struct Step {
        enum Kind { kExpect, kSend, kPause, kClose } kind;
        std::string bytes;
        int ms = 0;
    };
    static Step expect(std::string bytes) { return {Step::kExpect, std::move(bytes), 0}; }
    static Step send(std::string bytes) { return {Step::kSend, std::move(bytes), 0}; }
    static Step pause(int ms) { return {Step::kPause, "", ms}; }
    static Step close() { return {Step::kClose, "", 0}; }

    ScriptedPeer(std::vector<Step> steps, bool echo);
    ~ScriptedPeer();
    int port() const { return port_; }
    // Waits for the script to end; what went wrong, or "" (also "" when no
    // connection ever came and none was expected).
    std::string finish();
    bool connected() const { return connected_.load(); }

private:
    void run();
    std::vector<Step> steps_;
    bool echo_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> connected_{false};
    std::string problem_;
    std::thread thread_;
    int stopPipe_[2] = {-1, -1};
};

// Echoes every connection's bytes back (one connection at a time).
class EchoServer {
public:
    EchoServer();
    ~EchoServer();
    int port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace nettest
