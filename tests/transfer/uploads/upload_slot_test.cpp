// Upload slots: invitations and their timers, failed and closed
// connections, uploads replaced by a higher priority or by the same peer's
// other file, files that cannot be served, and partners.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/options/core_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer.h"
#include "transfer/uploads/upload_pool.h"
#include "transfer/uploads/upload_slot.h"
#include "transfer/uploads/upload_world_fixture.h"

namespace uploadtest {
namespace {

class UploadSlotTest : public UploadPoolWorld {
protected:
    void SetUp() override {
        UploadPoolWorld::SetUp();
        shareTwoFiles();
        shareFile(hashOf(9), "high.bin", patternBytes(kBig, 9), 1);
    }
    // A user waits for file 1 without being connected; the first slot
    // invites it at the next tick.
    void queueAbsent(int number) { pool_->queue().enqueue(userOf(number), hashOf(1)); }
    UploadSlot* slot(int index) { return pool_->slotAt(index); }
    // The slot of the user, or null.
    UploadSlot* slotOf(int number) { return pool_->slotOfUser(userOf(number)); }
};

TEST_F(UploadSlotTest, AnInvitationOfAnAbsentPeerTimesOutAfterNinetySeconds) {
    queueAbsent(1);
    tickPool(0);
    UploadSlot* invited = slotOf(1);
    ASSERT_NE(invited, nullptr);
    EXPECT_EQ(dialer_.dialed.size(), 1u);
    tickPool(90000);
    EXPECT_EQ(slotOf(1), invited);
    takeDebug();
    tickPool(1);
    EXPECT_EQ(takeDebug(), "Slot time out: peer1\n");
    EXPECT_EQ(slotOf(1), nullptr);
    EXPECT_EQ(pool_->queue().queuedCount(), 0);  // not queued again
}

TEST_F(UploadSlotTest, APeerThatConnectsByItselfHasFifteenSeconds) {
    queueAbsent(1);
    tickPool(0);
    tickPool(50000);
    Peer* peer = connectPeer(1);  // its hello is done: the slot takes it
    EXPECT_EQ(controls(peer), std::vector<int>{ICLT_SLOT_OPEN});
    EXPECT_EQ(slotOf(1)->timer(), UploadSlot::kSelfConnectedMs);
    tickPool(15000);
    EXPECT_NE(slotOf(1), nullptr);
    tickPool(1);
    EXPECT_EQ(slotOf(1), nullptr);
    // The invitation let go of its use.
    EXPECT_EQ(peer->useCount(), 0);
}

TEST_F(UploadSlotTest, APeerConnectedAlreadyIsInvitedAtOnceAndHasNinetySeconds) {
    Peer* peer = connectPeer(1);
    pool_->queueRequest(peer, hashOf(1));
    tickPool(0);
    // Invited before its rank was told: the rank notice is dropped.
    EXPECT_EQ(controls(peer), std::vector<int>{ICLT_SLOT_OPEN});
    EXPECT_EQ(pool_->rankNoticeCount(), 0);
    EXPECT_EQ(peer->useCount(), 1);
    tickPool(90000);
    EXPECT_NE(slotOf(1), nullptr);
    tickPool(1);
    EXPECT_EQ(slotOf(1), nullptr);
    EXPECT_EQ(peer->useCount(), 0);
}

TEST_F(UploadSlotTest, AFullPeerPoolIsTriedAgainAfterSixtySecondsWithoutATimeOut) {
    coreOptions()->setMaxConnections(3);
    fillCoreWith(4);
    queueAbsent(1);
    tickPool(0);
    UploadSlot* invited = slotOf(1);
    ASSERT_NE(invited, nullptr);
    EXPECT_TRUE(invited->retrying());
    EXPECT_EQ(invited->timer(), UploadSlot::kRetryMs);
    EXPECT_TRUE(dialer_.dialed.empty());
    tickPool(60000);
    EXPECT_TRUE(dialer_.dialed.empty());
    takeDebug();
    tickPool(1);  // the retry: still no room
    EXPECT_EQ(takeDebug(), "Can't make new connection.\n");
    coreOptions()->setMaxConnections(45);
    tickPool(60001);
    EXPECT_EQ(dialer_.dialed.size(), 1u);
    EXPECT_EQ(slotOf(1), invited);
    EXPECT_FALSE(invited->retrying());
}

TEST_F(UploadSlotTest, AFailedConnectOrAClosedPeerEndsTheInvitation) {
    queueAbsent(1);
    queueAbsent(2);
    tickPool(0);
    ASSERT_NE(slotOf(1), nullptr);
    ASSERT_NE(slotOf(2), nullptr);
    UserMeta first = userOf(1);
    clientPool()->notifyConnectFailed(first.ip(), first.port());
    EXPECT_EQ(slotOf(1), nullptr);
    EXPECT_NE(slotOf(2), nullptr);
    Peer* peer = connectPeer(2);
    EXPECT_EQ(controls(peer), std::vector<int>{ICLT_SLOT_OPEN});
    sides_->log.clear();
    link_->close(peer);
    EXPECT_EQ(slotOf(2), nullptr);
    EXPECT_EQ(sides_->log, support::CallLog{"partnerClosed"});
}

TEST_F(UploadSlotTest, TheInvitedPeersPartRequestStartsItsUpload) {
    Peer* peer = connectPeer(1);
    askPart(peer, hashOf(1), 0, 1000);
    std::vector<Frame> frames = drain(peer);
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[0].opcode, ICLT_SLOT_OPEN);
    EXPECT_EQ(frames[1].opcode, ICLT_DATA);
    EXPECT_EQ(frames[1].payload, dataPayload(hashOf(1), 0, patternBytes(kBig, 1).substr(0, 512)));
    // The range is sent: the upload waits a little for a further request,
    // then it ends and the slot is free; the peer is not told.
    EXPECT_NE(slotOf(1), nullptr);
    tickPool(Upload::kDrainWaitMs + 1);
    EXPECT_EQ(slotOf(1), nullptr);
    EXPECT_EQ(opcodes(frames), (std::vector<int>{ICLT_SLOT_OPEN, ICLT_DATA, ICLT_DATA}));
}

TEST_F(UploadSlotTest, AHigherPriorityUserReplacesTheUploadOfTheLowestSlot) {
    Peer* first = connectPeer(1);
    Peer* second = connectPeer(2);
    askPart(first, hashOf(1), 0, kBig);
    askPart(second, hashOf(2), 0, kBig);
    tickPool(0);
    EXPECT_EQ(slotOf(1)->score(), 0);
    Peer* third = connectPeer(3);
    pool_->queueRequest(third, hashOf(9));  // priority 1
    tickPool(0);
    // The first slot in order invites the third peer; its upload goes on.
    UploadSlot* inviting = slotOf(3);
    ASSERT_NE(inviting, nullptr);
    Upload* old = inviting->upload();
    ASSERT_NE(old, nullptr);
    Peer* replaced = old->connection();
    EXPECT_EQ(controls(third), std::vector<int>{ICLT_SLOT_OPEN});
    controls(replaced);
    askPart(third, hashOf(9), 0, kBig);
    ASSERT_NE(inviting->upload(), nullptr);
    EXPECT_EQ(inviting->upload()->connection(), third);
    tickPool(0);  // the rank notice goes out
    EXPECT_EQ(controls(replaced), (std::vector<int>{ICLT_SLOT_CLOSED, ICLT_QUEUE_RANK}));
    uint32_t position = 0;
    EXPECT_TRUE(pool_->queue().findUser(*replaced->user(), &position));
    EXPECT_EQ(position, 1u);
}

TEST_F(UploadSlotTest, ABusySlotOfScoreZeroIgnoresAQueueOfPriorityZero) {
    Peer* first = connectPeer(1);
    Peer* second = connectPeer(2);
    askPart(first, hashOf(1), 0, kBig);
    askPart(second, hashOf(2), 0, kBig);
    Peer* third = connectPeer(3);
    askPart(third, hashOf(1), 0, 100);  // priority 0: no slot takes it
    EXPECT_EQ(controls(third), std::vector<int>{ICLT_SLOT_CLOSED});
    tickPool(0);
    EXPECT_EQ(controls(third), std::vector<int>{ICLT_QUEUE_RANK});
    EXPECT_EQ(slotOf(3), nullptr);
}

TEST_F(UploadSlotTest, TheSamePeerAskingForAnotherFileIsServedInTheSameSlot) {
    Peer* peer = connectPeer(1);
    askPart(peer, hashOf(1), 0, kBig);
    UploadSlot* serving = slotOf(1);
    ASSERT_NE(serving, nullptr);
    controls(peer);
    askPart(peer, hashOf(2), 0, kBig);
    EXPECT_EQ(slotOf(1), serving);
    EXPECT_TRUE(serving->upload()->hash().equals(hashOf(2)));
    // Waits again for the first file; no ICLT_SLOT_CLOSED.
    uint32_t position = 0;
    EXPECT_TRUE(pool_->queue().findFileQueue(hashOf(1))->find(userOf(1), &position));
    tickPool(0);
    EXPECT_EQ(controls(peer), std::vector<int>{ICLT_QUEUE_RANK});
    // More ranges of the same file only move the upload.
    askPart(peer, hashOf(2), 5000, 6000);
    EXPECT_EQ(serving->upload()->position(), 5000u);
}

TEST_F(UploadSlotTest, AFileThatIsNotSharedOrCannotBeOpenedIsNoSuchFile) {
    // What took a hashed file's place: nothing, a FIFO (whose open would
    // wait for a writer for good), a directory.
    ASSERT_EQ(mkfifo(pathOf("shared/fifo.bin").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(pathOf("shared/dir.bin").c_str(), 0700), 0);
    struct Case {
        const char* what;
        uint8_t hash;
        const char* file;  // null: not shared
    } cases[] = {
        {"not shared", 5, nullptr},
        {"missing on disk", 7, "shared/missing.bin"},
        {"a FIFO", 8, "shared/fifo.bin"},
        {"a directory", 10, "shared/dir.bin"},
    };
    int number = 1;
    for (const Case& c : cases) {
        if (c.file) shareFile(hashOf(c.hash), "gone.bin", "x", 0)->setPath(pathOf(c.file).c_str());
        Peer* peer = connectPeer(number++);
        pool_->queueRequest(peer, hashOf(c.hash));
        tickPool(0);
        EXPECT_EQ(controls(peer), std::vector<int>{ICLT_SLOT_OPEN}) << c.what;
        takeDebug();
        askPart(peer, hashOf(c.hash), 0, 100);
        std::vector<Frame> frames = drain(peer);
        ASSERT_EQ(frames.size(), 1u) << c.what;
        EXPECT_EQ(frames[0].opcode, ICLT_NO_SUCH_FILE) << c.what;
        EXPECT_EQ(frames[0].payload, support::hashBytes(hashOf(c.hash))) << c.what;
        std::string expected = c.file ? "File not found for upload: " + pathOf(c.file) + "\n" : "";
        EXPECT_EQ(takeDebug(), expected) << c.what;
        EXPECT_EQ(slotOf(number - 1), nullptr) << c.what;
    }
}

TEST_F(UploadSlotTest, APartnerGetsANewSlotWhenEverySlotServesAPartner) {
    std::vector<Peer*> partners;
    for (int i = 1; i <= 3; i++) {
        partners.push_back(connectPeer(i));
        sides_->downloads.partners.push_back(partners.back());
    }
    // Each partner's slot scores 30000 from its next tick on.
    askPart(partners[0], hashOf(1), 0, kBig);
    tickPool(0);
    askPart(partners[1], hashOf(2), 0, kBig);
    tickPool(0);
    EXPECT_EQ(slot(0)->score(), UploadSlot::kPartnerScore);
    EXPECT_EQ(slot(1)->score(), UploadSlot::kPartnerScore);
    askPart(partners[2], hashOf(1), 0, kBig);
    EXPECT_EQ(pool_->slotCount(), 3);
    ASSERT_NE(slotOf(3), nullptr);
    EXPECT_EQ(slotOf(3)->upload()->score(), Upload::kPartnerScore);
    EXPECT_EQ(pool_->queue().priorityUserCount(), 0);
}

TEST_F(UploadSlotTest, AnInvitedPartnersOwnWTagIsNotTakenForAFileHash) {
    // A partner's queued record is its hello record: here with a "w" of
    // two letters, not the hash the queue writes for the users it serves.
    UserMeta user = userOf(1);
    user.set(UploadQueue::kWantedTag, "ab", kTagString);
    Peer* partner = link_->open(user);
    pool_->queue().addPriorityUser(partner);
    tickPool(0);
    ASSERT_NE(slotOf(1), nullptr);
    ASSERT_EQ(slotOf(1)->upload(), nullptr);  // invited, not served yet
    pool_->shutdown();
    // Queued again, in front, for no file in particular: not for a hash
    // made of "ab" and the bytes after it.
    EXPECT_EQ(pool_->queue().queuedCount(), 1);
    EXPECT_TRUE(pool_->queue().findUser(user, nullptr));
    EXPECT_NE(pool_->queue().findFileQueue(UniqueID()), nullptr);
}

TEST_F(UploadSlotTest, AClosedPeerEndsItsUploadAndAReleasedSlotLetsTheUseGo) {
    Peer* first = connectPeer(1);
    Peer* second = connectPeer(2);
    askPart(first, hashOf(1), 0, kBig);
    askPart(second, hashOf(2), 0, kBig);
    EXPECT_EQ(second->useCount(), 1);
    // ICLT_SLOT_RELEASE: the peer is alive and keeps no use of ours once
    // its last packets are gone.
    pool_->peerClosed(second);
    EXPECT_EQ(slotOf(2), nullptr);
    drain(second);
    EXPECT_EQ(second->useCount(), 0);
    link_->close(first);
    EXPECT_EQ(slotOf(1), nullptr);
    EXPECT_EQ(hub_->log.size(), 2u);  // both uploads counted
}

}  // namespace
}  // namespace uploadtest
