// The upload queue: places and ranks, turns between file queues, slot
// scores against queue priorities, serviceable queues and partners first.
#include <gtest/gtest.h>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "transfer/peer/peer.h"
#include "transfer/uploads/upload.h"
#include "transfer/uploads/upload_queue.h"
#include "transfer/uploads/upload_world_fixture.h"

namespace uploadtest {
namespace {

class UploadQueueTest : public UploadWorld {
protected:
    void SetUp() override {
        UploadWorld::SetUp();
        hub_->hashed = true;
    }
    // The nickname of the user a slot of that score takes next ("-" for
    // none) and the hash byte of its "w" tag.
    std::string next(int score) {
        std::unique_ptr<UserMeta> user = queue_.next(score);
        if (!user) return "-";
        auto wanted = static_cast<const uint8_t*>(user->valueOf(UploadQueue::kWantedTag));
        return std::string(user->nickname()) + (wanted ? "@" + std::to_string(wanted[0]) : "");
    }

    RecordingQueueHost host_;
    UploadQueue queue_{&host_};
};

TEST_F(UploadQueueTest, RanksCountPlacesTimesQueuesAndQueuesTakeTurns) {
    Peer* first = connectPeer(1);
    Peer* second = connectPeer(2);
    Peer* third = connectPeer(3);
    queue_.queueRequest(first, hashOf(0xA));
    queue_.queueRequest(second, hashOf(0xA));
    queue_.queueRequest(third, hashOf(0xB));
    EXPECT_EQ(host_.ranks, (std::vector<uint32_t>{1, 2, 2}));
    EXPECT_EQ(host_.notified, (std::vector<Peer*>{first, second, third}));
    EXPECT_EQ(queue_.queuedCount(), 3);
    EXPECT_EQ(next(UploadQueue::kEmptySlotScore), "peer1@10");
    EXPECT_EQ(next(UploadQueue::kEmptySlotScore), "peer3@11");
    EXPECT_EQ(next(UploadQueue::kEmptySlotScore), "peer2@10");
    EXPECT_EQ(next(UploadQueue::kEmptySlotScore), "-");
    EXPECT_EQ(queue_.queuedCount(), 0);
    EXPECT_EQ(queue_.servedCount(), 3);
    // Queues found empty are deleted when next served.
    EXPECT_EQ(queue_.fileQueueCount(), 0);
}

TEST_F(UploadQueueTest, AUserWaitsInOnePlaceOnly) {
    Peer* first = connectPeer(1);
    Peer* second = connectPeer(2);
    queue_.queueRequest(second, hashOf(0xA));
    queue_.queueRequest(first, hashOf(0xA));
    queue_.queueRequest(first, hashOf(0xA));  // again
    queue_.queueRequest(first, hashOf(0xB));  // for another file
    // Place 2 in A's queue times one queue each time; no queue for B.
    EXPECT_EQ(host_.ranks, (std::vector<uint32_t>{1, 2, 2, 2}));
    EXPECT_EQ(queue_.queuedCount(), 2);
    EXPECT_EQ(queue_.fileQueueCount(), 1);
    // In a slot, or a partner: rank 0, not queued.
    Peer* served = connectPeer(3);
    host_.inSlots.push_back(*served->user());
    queue_.queueRequest(served, hashOf(0xA));
    EXPECT_EQ(host_.ranks.back(), 0u);
    Peer* partner = connectPeer(4);
    queue_.addPriorityUser(partner);
    queue_.queueRequest(partner, hashOf(0xB));
    EXPECT_EQ(host_.ranks.back(), 0u);
    EXPECT_EQ(queue_.queuedCount(), 2);
}

TEST_F(UploadQueueTest, ABusySlotTakesOnlyAQueueOfHigherPriority) {
    shareFile(hashOf(1), "one.bin", "x", 1);
    shareFile(hashOf(2), "zero.bin", "x", 0);
    queue_.enqueue(userOf(1), hashOf(2));
    EXPECT_EQ(next(0), "-");  // priority 0 against a score of 0
    queue_.enqueue(userOf(2), hashOf(1));
    EXPECT_EQ(next(0), "peer2@1");
    EXPECT_EQ(next(0), "-");
    EXPECT_EQ(next(-1), "peer1@2");
}

TEST_F(UploadQueueTest, ANewPriorityCountsFromTheNextScan) {
    shareFile(hashOf(1), "a.bin", "x", 0);
    shareFile(hashOf(2), "b.bin", "x", 0);
    for (int i = 1; i <= 4; i++) queue_.enqueue(userOf(i), hashOf(i <= 2 ? 1 : 2));
    EXPECT_EQ(next(UploadQueue::kEmptySlotScore), "peer1@1");
    queue_.setFilePriority(hashOf(2), 2);
    EXPECT_EQ(queue_.bestPriority(), 0);
    EXPECT_EQ(next(1), "-");  // no scan: the best known is 0
    EXPECT_EQ(next(UploadQueue::kEmptySlotScore), "peer3@2");  // a free slot scans
    EXPECT_EQ(queue_.bestPriority(), 2);
    EXPECT_EQ(next(1), "peer4@2");
}

TEST_F(UploadQueueTest, WhileHashingOnlyQueuesOfSharedFilesAreServed) {
    hub_->hashed = false;
    shareFile(hashOf(1), "shared.bin", "x", 0);
    queue_.enqueue(userOf(1), hashOf(2));  // not (yet) shared
    queue_.enqueue(userOf(2), hashOf(1));
    EXPECT_EQ(next(UploadQueue::kEmptySlotScore), "peer2@1");
    EXPECT_EQ(next(UploadQueue::kEmptySlotScore), "-");
    hub_->hashed = true;
    EXPECT_EQ(next(UploadQueue::kEmptySlotScore), "peer1@2");
}

TEST_F(UploadQueueTest, PartnersComeFirstForSlotsBelowThePartnerScore) {
    queue_.enqueue(userOf(1), hashOf(1));
    Peer* partner = connectPeer(2);
    queue_.addPriorityUser(partner);
    queue_.addPriorityUser(partner);  // once
    EXPECT_EQ(queue_.priorityUserCount(), 1);
    EXPECT_EQ(next(Upload::kPartnerScore), "-");
    EXPECT_EQ(next(29999), "peer2");
    queue_.addPriorityUser(partner);
    queue_.removePriorityUser(userOf(2));
    EXPECT_EQ(next(UploadQueue::kEmptySlotScore), "peer1@1");
}

TEST_F(UploadQueueTest, ARequeuedUserGoesToTheFrontUnlessItWaits) {
    queue_.enqueue(userOf(1), hashOf(1));
    queue_.requeueFront(userOf(2), hashOf(1));
    queue_.requeueFront(userOf(1), hashOf(2));  // waits already
    EXPECT_EQ(queue_.queuedCount(), 2);
    EXPECT_EQ(queue_.fileQueueCount(), 1);
    EXPECT_EQ(next(UploadQueue::kEmptySlotScore), "peer2@1");
    EXPECT_EQ(next(UploadQueue::kEmptySlotScore), "peer1@1");
}

}  // namespace
}  // namespace uploadtest
