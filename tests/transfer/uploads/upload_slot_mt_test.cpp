// The user interfaces read the slots on threads of their own while the task
// thread starts, replaces and ends uploads, adds and removes slots.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "transfer/peer/peer.h"
#include "transfer/uploads/upload_pool.h"
#include "transfer/uploads/upload_slot.h"
#include "transfer/uploads/upload_world_fixture.h"

namespace uploadtest {
namespace {

using UploadSlotThreads = UploadPoolWorld;

TEST_F(UploadSlotThreads, ReadersSeeWholeSlotsWhileUploadsComeAndGo) {
    hub_->hashed = true;
    shareFile(hashOf(1), "low.bin", patternBytes(64 * 1024, 1), 0);
    shareFile(hashOf(2), "other.bin", patternBytes(64 * 1024, 2), 0);
    shareFile(hashOf(3), "high.bin", patternBytes(64 * 1024, 3), 2);
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    auto reader = [&] {
        while (!stop.load()) {
            for (UploadSlotInterface* slot : pool_->slotsSnapshot()) {
                UserMeta user;
                OwnedString name;
                UniqueID hash;
                double speed = slot->speed();
                bool someone = slot->user(user);
                const char* file = slot->fileName(name);
                bool uploading = slot->fileHash(hash);
                int score = slot->score();
                EXPECT_GE(speed, 0.0);
                EXPECT_NE(file, nullptr);
                EXPECT_TRUE(!uploading || !hash.isZero());
                EXPECT_TRUE(!someone || user.port() != 0);
                EXPECT_GE(score, UploadSlot::kEmptyScore);
                slot->release();
                reads++;
            }
        }
    };
    std::vector<std::thread> readers;
    for (int i = 0; i < 2; i++) readers.emplace_back(reader);

    std::vector<Peer*> peers;
    for (int i = 1; i <= 6; i++) peers.push_back(connectPeer(i));
    for (int round = 0; round < 40; round++) {
        // Uploads start, a higher priority replaces one, another file is
        // asked for, ranges run out, a slot comes and goes.
        Peer* a = peers[static_cast<size_t>(round % 6)];
        Peer* b = peers[static_cast<size_t>((round + 1) % 6)];
        askPart(a, hashOf(1), 0, 20000);
        askPart(b, hashOf(2), 0, 20000);
        tickPool(2001);
        pool_->queueRequest(peers[static_cast<size_t>((round + 2) % 6)], hashOf(3));
        tickPool(0);
        askPart(peers[static_cast<size_t>((round + 2) % 6)], hashOf(3), 0, 30000);
        askPart(a, hashOf(2), 1000, 2000);
        UploadSlot* extra = pool_->addSlot();
        for (int i = 0; i < 30; i++) link_->serve();
        pool_->removeSlot(extra);
        pool_->peerClosed(b);
        tickPool(1000);
    }
    // Every reader went round a few times.
    while (reads.load() < 100) std::this_thread::yield();
    stop = true;
    for (std::thread& thread : readers) thread.join();
}

}  // namespace
}  // namespace uploadtest
