// A world for the upload tests: the bus, the options and the core built in
// a scratch directory (never started: time is a manual clock the test
// moves), the peer pool with a dialer that never connects, the transfer
// options, every recording side of the peer protocol, the hub's upload
// side, and peers on scripted sockets (support::PeerLink) whose frames the
// test reads.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/meta/user_meta.h"
#include "support/debug_capture.h"
#include "support/peer_fakes.h"
#include "support/peer_link.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "support/upload_fakes.h"
#include "v4ada/time/clock_source.h"

class CoreThread;
class Peer;

namespace uploadtest {

using support::CallLog;
using support::Frame;
using support::hashOf;
using support::makeUser;

// Bytes 0, 1, 2, ... 250, 0, 1, ... (a prime period, so that offsets show).
std::string patternBytes(size_t size, int seed = 0);
// An ICLT_DATA payload after the opcode.
std::string dataPayload(const UniqueID& hash, uint32_t start, const std::string& bytes);
std::string le32s(uint32_t value);

class UploadWorld : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A listed peer of a new user (distinct address and hash per number).
    Peer* connectPeer(int number, bool verified = true);
    UserMeta userOf(int number);
    // A shared file of the hash with the bytes on disk under the scratch
    // directory (its record has that upload priority).
    FileMeta* shareFile(const UniqueID& hash, const std::string& name, const std::string& bytes, int priority = 0);
    std::string pathOf(const std::string& name) const { return dir_ / name; }
    // Every frame the peer has written so far (served until its queue is
    // empty) and not taken before.
    std::vector<Frame> drain(Peer* peer);
    // The opcodes of frames.
    static std::vector<int> opcodes(const std::vector<Frame>& frames);
    // The debug output so far, then forgotten.
    std::string takeDebug();

    support::TempDir dir_;
    ManualClock clock_;
    std::unique_ptr<ScopedClockSource> clockScope_;
    std::unique_ptr<support::CaptureUI> ui_;
    std::unique_ptr<support::DebugCapture> debug_;
    std::unique_ptr<support::RecordingSides> sides_;
    std::unique_ptr<support::RecordingUploadHub> hub_;
    std::unique_ptr<support::PeerLink> link_;
    support::FakeDialer dialer_;
    CoreThread* core_ = nullptr;
    size_t debugSeen_ = 0;
};

}  // namespace uploadtest
