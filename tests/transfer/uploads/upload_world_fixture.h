// A world for the upload tests: the bus, the options and the core built in
// a scratch directory (never started: time is a manual clock the test
// moves), the peer pool with a dialer that never connects, the transfer
// options, every recording side of the peer protocol, the hub's upload
// side, and peers on scripted sockets (support::PeerLink) whose frames the
// test reads.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/meta/user_meta.h"
#include "support/debug_capture.h"
#include "support/peer_fakes.h"
#include "support/peer_link.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "support/upload_fakes.h"
#include "transfer/uploads/upload_pool.h"
#include "transfer/uploads/upload_queue.h"
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
    std::optional<support::ProcessObjects> process_;
    std::unique_ptr<support::RecordingSides> sides_;
    std::unique_ptr<support::RecordingUploadHub> hub_;
    std::unique_ptr<support::PeerLink> link_;
    support::FakeDialer dialer_;
    CoreThread* core_ = nullptr;
    size_t debugSeen_ = 0;
};

// What the upload queue asks of the pool, recorded: the rank notices, the
// users the slots hold and the slots' entries for uploadq.dat.
class RecordingQueueHost : public QueueHost {
public:
    bool slotHasUser(const UserMeta& user) override;
    void addRankNotice(Peer* connection, uint32_t rank) override { ranks.push_back(rank), notified.push_back(connection); }
    void slotEntries(std::vector<UploadqEntry>& out) override { out = slots; }

    std::vector<uint32_t> ranks;
    std::vector<Peer*> notified;
    std::vector<UserMeta> inSlots;
    std::vector<UploadqEntry> slots;
};

// The upload pool in the world: made with two slots, following the peer
// pool's events and taking the peer protocol's upload messages; the test
// ticks it.
class UploadPoolWorld : public UploadWorld {
protected:
    // The size of the files shareTwoFiles shares.
    static constexpr uint32_t kBig = 1u << 20;

    void SetUp() override;
    void TearDown() override;

    // Hashing is done, and two files of kBig bytes of priority 0 are
    // shared: one.bin (hash 1) and two.bin (hash 2).
    void shareTwoFiles();

    // ICLT_PART_REQUEST of one range of the file from the peer.
    void askPart(Peer* peer, const UniqueID& hash, uint32_t start, uint32_t end);
    // One pool tick after the clock moved ms.
    void tickPool(int ms);
    // The opcodes of the frames the peer wrote (after a few services, so
    // that an upload keeps going), data frames left out.
    std::vector<int> controls(Peer* peer, int services = 3);
    // Connections that only take room in the core's socket pool.
    void fillCoreWith(int connections);

    std::unique_ptr<UploadPool> pool_;
};

}  // namespace uploadtest
