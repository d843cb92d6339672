// A whole peer world for one test: the bus, the options and the core built
// in a scratch directory (not started: the test steps it on a manual
// clock), the loopback protocol, the peer pool, the transfer options, the
// transfer handler and every recording side. Scripted clients talk to the
// client's peers over loopback sockets in frames.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/meta/user_meta.h"
#include "core/net/connection.h"
#include "transfer/hub/transfer_handler.h"
#include "transfer/peer/peer.h"
#include "support/fake_net.h"
#include "support/peer_fakes.h"
#include "support/peer_wire.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "v4ada/time/clock_source.h"

class CoreThread;

namespace transfertest {

using support::CallLog;
using support::Frame;
using support::FrameClient;
using support::codeVerifies;
using support::frame;
using support::hashBytes;
using support::helloPayload;
using support::kReplyWaitMs;
using support::le16s;
using support::le32s;
using support::makeUser;
using support::userWire;
using support::FakeDialer;
using support::FakeDownload;
using support::RecordingHandler;
using support::RecordingSides;
using support::bitsOf;
using support::hashOf;
using support::setBits;

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
    std::optional<support::ProcessObjects> process_;
    RecordingSides sides_;
    // The pool's events, apart from the sides' calls.
    CallLog events_;
    RecordingHandler handler_{&events_, "h"};
    TransferHandler transferHandler_;
    CoreThread* core_ = nullptr;
};

}  // namespace transfertest
