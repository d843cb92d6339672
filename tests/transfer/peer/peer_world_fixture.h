// A whole peer world for one test: the bus, the options and the core built
// in a scratch directory (not started: the test steps it on a manual
// clock), the loopback protocol, the peer pool, the transfer options, the
// transfer handler and every recording side. Scripted clients talk to the
// client's peers over loopback sockets in frames.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/meta/user_meta.h"
#include "core/net/connection.h"
#include "transfer/hub/transfer_handler.h"
#include "transfer/peer/peer.h"
#include "support/fake_net.h"
#include "support/peer_fakes.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "v4ada/time/clock_source.h"

class CoreThread;

namespace transfertest {

using support::CallLog;
using support::FakeDialer;
using support::FakeDownload;
using support::RecordingHandler;
using support::RecordingSides;
using support::bitsOf;
using support::hashOf;
using support::setBits;

// How long a wait for a reply polls the client socket between steps (the
// client's acknowledgements may hold a small reply back briefly).
constexpr int kReplyWaitMs = 5;

struct Frame {
    uint8_t opcode;
    std::string payload;
};

// A raw loopback client that sends and reads frames.
class FrameClient {
public:
    explicit FrameClient(int fd);
    ~FrameClient();
    FrameClient(const FrameClient&) = delete;
    FrameClient& operator=(const FrameClient&) = delete;

    void send(uint8_t opcode, const std::string& payload);
    void sendRaw(const std::string& bytes);
    // Takes what has arrived, waiting up to timeoutMs for the first bytes;
    // false once the other side closed.
    bool poll(int timeoutMs = 0);

    std::vector<Frame> frames;
    bool closed = false;

private:
    int fd_;
    std::string pending_;
};

// Wire helpers.
std::string le16(uint16_t value);
std::string le32(uint32_t value);
std::string frame(uint8_t opcode, const std::string& payload);
std::string hashBytes(const UniqueID& hash);
std::string userWire(UserMeta& user);
// A hello body after the opcode: [16], the user, buddy address and port,
// then a code for the user's port (or a wrong one), cut to codeBytes.
std::string helloPayload(UserMeta& user, uint32_t buddyIp, uint16_t buddyPort, bool sizeByte, bool rightCode,
                         int codeBytes = 4);
// Whether the code at the end of the message verifies with the port.
bool codeVerifies(uint8_t opcode, const std::string& payload, int port);
UserMeta makeUser(const char* nickname, uint32_t ip, uint16_t port, uint8_t hashByte);
// A connection that only takes room in the socket pool.
class IdleConnection : public Connection {
public:
    IdleConnection() { setSocket(new support::FakeSocket()); }
    bool doTask() override { return false; }
};

class PeerWorld : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // One core step after the clock moved ms.
    void step(int ms = 10);
    // Steps until the condition holds (at most 300 steps).
    bool stepUntil(const std::function<bool()>& condition, int ms = 10);
    // A peer accepted from a new scripted client (attached to the pool).
    Peer* accept(std::unique_ptr<FrameClient>* client);
    // Accepts and completes the client's hello as the user; the peer is in
    // the pool afterwards and its answer is the client's first frame.
    Peer* acceptHello(std::unique_ptr<FrameClient>* client, UserMeta user);
    bool awaitFrames(FrameClient& client, size_t count);
    bool awaitClose(FrameClient& client);
    // The lines printed through the output gateway.
    std::vector<std::string> printed() const { return capture_->printed(); }

    support::TempDir dir_;
    ManualClock clock_;
    std::unique_ptr<ScopedClockSource> clockScope_;
    std::unique_ptr<support::CaptureUI> capture_;
    RecordingSides sides_;
    // The pool's events, apart from the sides' calls.
    CallLog events_;
    RecordingHandler handler_{&events_, "h"};
    TransferHandler transferHandler_;
    CoreThread* core_ = nullptr;
};

}  // namespace transfertest
