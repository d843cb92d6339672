// The upload pool: its slots, rank notices, the upload rate, have-notices
// and paused files, uploadq.dat at its times, shutdown, and the slots as
// the user interfaces hold them.
#include <gtest/gtest.h>

#include "core/options/core_options.h"
#include "support/files.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer.h"
#include "transfer/uploads/upload_pool.h"
#include "transfer/uploads/upload_slot.h"
#include "transfer/uploads/upload_world_fixture.h"

namespace uploadtest {
namespace {

class UploadPoolTest : public UploadPoolWorld {
protected:
    void SetUp() override {
        UploadPoolWorld::SetUp();
        shareTwoFiles();
    }
    // Both slots busy with the first two peers.
    std::vector<Peer*> busy() {
        std::vector<Peer*> peers{connectPeer(1), connectPeer(2)};
        askPart(peers[0], hashOf(1), 0, kBig);
        askPart(peers[1], hashOf(2), 0, kBig);
        tickPool(0);
        return peers;
    }
    std::string queuePath() { return transferOptions()->uploadqPath().c_str(); }
};

TEST_F(UploadPoolTest, ThePoolStartsWithTwoEmptySlotsAndTellsTheUserInterface) {
    EXPECT_EQ(pool_->slotCount(), UploadPool::kStartSlots);
    for (int i = 0; i < pool_->slotCount(); i++) EXPECT_EQ(pool_->slotAt(i)->score(), UploadSlot::kEmptyScore);
    int changes = sides_->transferUI.slotChanges;
    UploadSlot* added = pool_->addSlot();
    EXPECT_EQ(sides_->transferUI.slotChanges, changes + 1);
    pool_->removeSlot(added);
    EXPECT_EQ(sides_->transferUI.slotRemovals, 1);
}

TEST_F(UploadPoolTest, RankNoticesGoOutAtTheNextTickAndGoWithTheirConnection) {
    busy();
    Peer* waiting = connectPeer(3);
    Peer* leaving = connectPeer(4);
    pool_->queueRequest(waiting, hashOf(1));
    pool_->queueRequest(leaving, hashOf(2));
    EXPECT_TRUE(controls(waiting).empty());
    link_->close(leaving);
    EXPECT_EQ(pool_->rankNoticeCount(), 1);
    tickPool(0);
    std::vector<Frame> frames = link_->frames(waiting);
    link_->serve();
    frames = link_->frames(waiting);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].opcode, ICLT_QUEUE_RANK);
    // First in one queue of two.
    EXPECT_EQ(frames[0].payload, le32s(2));
    EXPECT_EQ(pool_->rankNoticeCount(), 0);
}

TEST_F(UploadPoolTest, TheSlotsSpeedsAreTheUploadRate) {
    coreOptions()->setMaxUpSpeed(0.001);
    std::vector<Peer*> peers = busy();
    // Part of each file goes out (a service moves at most its cap), so
    // both uploads still run.
    for (int i = 0; i < 2; i++) link_->serve();
    tickPool(2001);
    double total = pool_->slotAt(0)->speed() + pool_->slotAt(1)->speed();
    EXPECT_GT(total, 0.0);
    EXPECT_EQ(coreOptions()->currentUpRate(), total);
    EXPECT_EQ(coreOptions()->maxUpSpeed(), total);
}

TEST_F(UploadPoolTest, HaveNoticesReachThePeersOfThatFile) {
    std::vector<Peer*> peers = busy();
    controls(peers[0]);
    controls(peers[1]);
    pool_->sendHaveNotice(hashOf(2), 7);
    EXPECT_TRUE(controls(peers[0]).empty());
    EXPECT_EQ(controls(peers[1]), std::vector<int>{ICLT_HAVE_CRUMB});
}

TEST_F(UploadPoolTest, UploadsOfAFileBeingCompletedPauseAndResume) {
    std::vector<Peer*> peers = busy();
    pool_->pauseFile(hashOf(1), true);
    drain(peers[0]);
    link_->serve();
    EXPECT_TRUE(link_->frames(peers[0]).empty());
    EXPECT_FALSE(link_->frames(peers[1]).empty());
    pool_->pauseFile(hashOf(1), false);
    EXPECT_EQ(peers[0]->queuedPackets(), 2);
}

TEST_F(UploadPoolTest, TheQueueIsSavedEveryTenMinutesAndLoadedBack) {
    busy();
    pool_->queueRequest(connectPeer(3), hashOf(1));
    tickPool(UploadPool::kSaveEveryMs);
    EXPECT_FALSE(support::file_exists(queuePath()));
    tickPool(1);
    ASSERT_TRUE(support::file_exists(queuePath()));
    UploadPool restarted;
    restarted.load();
    // The slots' users come back first, then the waiting one.
    EXPECT_EQ(restarted.queue().queuedCount(), 3);
    FileQueue* first = restarted.queue().findFileQueue(hashOf(1));
    ASSERT_EQ(first->count(), 2);
    EXPECT_STREQ(first->at(0).nickname(), "peer1");
    EXPECT_STREQ(first->at(1).nickname(), "peer3");
}

TEST_F(UploadPoolTest, ShutdownSavesTheQueueAndSendsTheSlotsPeersBackToIt) {
    std::vector<Peer*> peers = busy();
    controls(peers[0]);
    pool_->queue().enqueue(userOf(5), hashOf(1));
    pool_->shutdown();
    EXPECT_EQ(pool_->slotCount(), 0);
    std::vector<int> told = controls(peers[0]);
    EXPECT_EQ(told, (std::vector<int>{ICLT_SLOT_CLOSED, ICLT_QUEUE_RANK}));
    // Each former slot's peer waits in front of its file's queue.
    FileQueue* first = pool_->queue().findFileQueue(hashOf(1));
    ASSERT_EQ(first->count(), 2);
    EXPECT_STREQ(first->at(0).nickname(), "peer1");
    EXPECT_STREQ(pool_->queue().findFileQueue(hashOf(2))->at(0).nickname(), "peer2");
    // Group 0 of the file holds the two slots.
    support::Bytes bytes = support::read_bytes(queuePath());
    ASSERT_GE(bytes.size(), 16u);
    EXPECT_EQ(bytes[8], 3);   // two file queues and the slots
    EXPECT_EQ(bytes[12], 2);  // two slots
}

TEST_F(UploadPoolTest, ASlotAUserInterfaceHoldsOutlivesItsRemoval) {
    std::vector<Peer*> peers = busy();
    std::vector<UploadSlotInterface*> held = pool_->slotsSnapshot();
    ASSERT_EQ(held.size(), 2u);
    UploadSlotInterface* slot = held[0];
    UserMeta user;
    ASSERT_TRUE(slot->user(user));
    OwnedString name;
    EXPECT_TRUE(std::string(slot->fileName(name)) == "one.bin" || std::string(name.c_str()) == "two.bin");
    UniqueID hash;
    EXPECT_TRUE(slot->fileHash(hash));
    while (pool_->slotCount() > 0) pool_->removeSlot(pool_->slotAt(0));
    // Retired: nothing in it, and the pool is not reached any more.
    EXPECT_FALSE(slot->user(user));
    EXPECT_EQ(slot->speed(), 0.0);
    EXPECT_FALSE(slot->fileHash(hash));
    EXPECT_STREQ(slot->fileName(name), "");
    for (UploadSlotInterface* each : held) each->release();
}

}  // namespace
}  // namespace uploadtest
