// The upload and connection words: the slot listing with its master-mode
// score, the queue by file (a shared name, or "????" for a file no longer
// shared), the connection listing, and ping and kick of a listed peer.
#include "console/cli/upload_peer_commands.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "console/cli/servant.h"
#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "support/peer_fakes.h"
#include "support/peer_link.h"
#include "support/peer_wire.h"
#include "support/process_objects.h"
#include "support/ui_capture.h"
#include "transfer/hub/transfer_gateway.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer.h"
#include "transfer/uploads/upload_pool.h"
#include "transfer/uploads/upload_slot.h"

namespace {

using Lines = std::vector<std::string>;
using support::makeUser;

class UploadPeerCommands : public ::testing::Test {
protected:
    void SetUp() override {
        using support::ProcessObjects;
        process_.emplace(ProcessObjects::kSpecialTags | ProcessObjects::kCoreOptions | ProcessObjects::kClientPool |
                         ProcessObjects::kUploadPool | ProcessObjects::kTransferGateway);
        consoleServant.store(&servant_);
    }
    void TearDown() override {
        consoleServant.store(nullptr);
        link_.reset();
        process_.reset();
    }
    Lines run(void (*handler)(char*), std::string line) {
        return ui_.printedDuring([&] { handler(line.data()); });
    }

    std::optional<support::ProcessObjects> process_;
    support::CaptureUI ui_;
    Servant servant_;
    std::unique_ptr<support::PeerLink> link_ = std::make_unique<support::PeerLink>();
};

TEST_F(UploadPeerCommands, SlotsWithScoreInMasterMode) {
    coreOptions()->setCurrentUpRate(1.25);
    coreOptions()->setMaxUpSpeed(7.5);
    uploadPool()->slotAt(0)->setScore(-5);
    EXPECT_EQ(run(vu_command, "vu"),
              (Lines{"File Name\t\tWho\t\tSpeed", "(1) \t\t0.0", "(2) \t\t0.0", "Total: 1.25 (7.50)"}));
    servant_.setMasterMode(true);
    Lines master = run(vu_command, "vu");
    ASSERT_EQ(master.size(), 4u);
    EXPECT_EQ(master[1].substr(master[1].size() - 4), "(-5)");
    EXPECT_EQ(master[2], "(2) \t\t0.0 (-30000)");
}

TEST_F(UploadPeerCommands, QueueNamesSharedFilesAndMarksOthers) {
    auto* record = new FileMeta();
    record->setSpecial(ST_NAME, "song.mp3");
    record->setSize(1000);
    record->setFileHash(support::hashOf(1));
    transferGateway()->addSharedFile(record);
    UploadQueue& queue = uploadPool()->queue();
    queue.enqueue(makeUser("amy", 0x01020304, 4662, 1), support::hashOf(1));
    queue.enqueue(makeUser("bob", 0x01020305, 4662, 2), support::hashOf(1));
    queue.enqueue(makeUser("cy", 0x01020306, 4662, 3), support::hashOf(9));
    queue.setFilePriority(support::hashOf(9), 2);
    EXPECT_EQ(run(vq_command, "vq"), (Lines{"Upload Queue (3): ", "(1) song.mp3 0:", "\t1) amy", "\t2) bob",
                                            "(2) ???? 2:", "\t1) cy"}));
}

TEST_F(UploadPeerCommands, ConnectionsPingAndKick) {
    EXPECT_EQ(run(vp_command, "vp"), (Lines{"0 Connections."}));
    Peer* lee = link_->open(makeUser("lee", 0x0a000001, 4662, 7));
    Peer* max = link_->open(makeUser("max", 0x0a000002, 4662, 8));
    EXPECT_EQ(run(vp_command, "vp"), (Lines{"0 Connections.", "(1) lee", "(2) max"}));

    struct Case {
        void (*handler)(char*);
        const char* line;
        Lines printed;
    } refusals[] = {
        {ping_command, "ping", {}},        {ping_command, "ping 3", {"Invalid peer"}},
        {ping_command, "ping 0", {"Invalid peer"}}, {kick_command, "kick", {}},
        {kick_command, "kick x", {"Invalid peer"}},
    };
    for (const Case& c : refusals) EXPECT_EQ(run(c.handler, c.line), c.printed) << c.line;

    link_->frames(lee);
    EXPECT_EQ(run(ping_command, "ping 1"), (Lines{"Ping lee ..."}));
    link_->serve();
    std::vector<support::Frame> frames = link_->frames(lee);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].opcode, ICLT_PING);

    EXPECT_EQ(run(kick_command, "kick 2"), (Lines{"Kicking: max ..."}));
    link_->serve();
    link_->serve();
    EXPECT_EQ(clientPool()->peerCount(), 1);
    EXPECT_EQ(clientPool()->peerAt(0), lee);
    (void)max;
}

}  // namespace
