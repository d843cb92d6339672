// A TCP connection that records its messages, and a loopback fixture that
// serves one accepted connection in a socket pool.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/net/socket_pool.h"
#include "core/net/tcp_connection.h"
#include "support/fake_net.h"
#include "support/loopback.h"

namespace coretest {

struct ConnectionLog {
    std::vector<std::string> events;  // "first:<op>:<payload>", "msg:<op>:<payload>"
    bool destroyed = false;
    int connected = 0;
    int connectFailed = 0;
    bool keep = true;
    bool forwardFirst = true;  // onFirstMessage forwards to onMessage
    int readPast = 0;          // bytes the handler tries to read beyond the payload
};

class RecordingConnection : public TCPConnection {
public:
    RecordingConnection(i4_socket* socket, ConnectionLog* log) : TCPConnection(socket, 0xE3), log_(log) {}
    RecordingConnection(uint32_t ip, int port, ConnectionLog* log) : TCPConnection(ip, port, 0xE3), log_(log) {}
    ~RecordingConnection() override { log_->destroyed = true; }

    bool onFirstMessage(uint8_t opcode, i4_ram_file_class* body) override;
    bool onMessage(uint8_t opcode, i4_ram_file_class* body) override;
    void connected() override { log_->connected++; }
    void connectFailed() override { log_->connectFailed++; }

private:
    std::string payload(i4_ram_file_class* body);
    ConnectionLog* log_;
};

// One accepted loopback connection served by an STSocketPool; client is
// the raw other end.
class LoopbackConnectionTest : public ::testing::Test {
protected:
    LoopbackConnectionTest();
    ~LoopbackConnectionTest() override;

    // A fresh accepted connection (and client) with a fresh log; the old
    // connection stays with the pool.
    void openConnection();
    // One pool tick with 10 ms elapsed.
    void serve();
    // Ticks until the condition holds (at most 50 ticks).
    bool serveUntil(const std::function<bool()>& condition);

    std::shared_ptr<i4_tcpip_protocol> protocol_;
    support::ProtocolScope scope_;
    support::FakeBandwidth bandwidth_;
    STSocketPool* pool_ = nullptr;
    ConnectionLog log_;
    RecordingConnection* connection_ = nullptr;
    int client_ = -1;
};

}  // namespace coretest
