#include "downloads/sources/source_list.h"

#include <gtest/gtest.h>

#include "downloads/pool/dl_pool.h"
#include "support/download_fakes.h"
#include "support/download_world.h"
#include "support/peer_fakes.h"
#include "support/process_objects.h"
#include "v4ada/time/clock_source.h"

namespace {

using support::FakeSourcePeer;
using support::SharedLog;

constexpr int64_t kDayMs = 24LL * 3600 * 1000;

UniqueID idOf(uint8_t value) { return support::hashOf(value); }

class SourceListTest : public ::testing::Test {
protected:
    SourceListTest() : clockScope_(&clock_) {}

    FakeSourcePeer* peer(const std::string& name, uint32_t ip, uint16_t port, uint8_t hashByte) {
        peers_.push_back(std::make_unique<FakeSourcePeer>(&log_, name, ip, port));
        if (hashByte) peers_.back()->record.setUserHash(idOf(hashByte));
        return peers_.back().get();
    }

    support::ProcessObjects tags_{support::ProcessObjects::kSpecialTags};
    ManualClock clock_;
    ScopedClockSource clockScope_;
    SharedLog log_;
    SourceList list_;
    std::vector<std::unique_ptr<FakeSourcePeer>> peers_;
};

TEST_F(SourceListTest, EntryIsFreshUpTo1199999Ms) {
    struct Case {
        int64_t startMs;  // clock moved before the request
        int64_t ageMs;
        bool fresh;
    };
    const Case cases[] = {
        {0, 0, true},
        {0, 1199999, true},
        {0, 1200000, false},
        // Past the 24.8 days after which a 32-bit millisecond count wraps.
        {25 * kDayMs, 1199999, true},
        {25 * kDayMs, 1200000, false},
        {0, 25 * kDayMs, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.startMs) + " + " + std::to_string(c.ageMs));
        SourceList list;
        FakeSourcePeer* p = peer("p", 0x0A000001, 4662, 1);
        clock_.advanceMs(c.startMs);
        list.askOnce(p, idOf(9));
        clock_.advanceMs(c.ageMs);
        AskedSource* entry = list.find(p->user());
        EXPECT_EQ(entry != nullptr, c.fresh);
        // A stale entry met by the lookup is gone.
        EXPECT_EQ(list.size(), c.fresh ? 1u : 0u);
    }
}

TEST_F(SourceListTest, AsksEachUserOnceWhateverTheFile) {
    FakeSourcePeer* p = peer("p", 0x0A000001, 4662, 1);
    list_.askOnce(p, idOf(1));
    clock_.advanceMs(1199999);
    list_.askOnce(p, idOf(2));
    EXPECT_EQ(log_.take(), (std::vector<std::string>{"p uploadRequest"}));
    clock_.advanceMs(1);
    list_.askOnce(p, idOf(2));
    EXPECT_EQ(log_.take(), (std::vector<std::string>{"p uploadRequest"}));
    ASSERT_EQ(list_.size(), 1u);
    // The new entry's age starts again.
    clock_.advanceMs(1199999);
    EXPECT_NE(list_.find(p->user()), nullptr);
    list_.askOnce(nullptr, idOf(1));
    EXPECT_TRUE(log_.take().empty());
}

TEST_F(SourceListTest, AskingDropsStaleEntriesOfOthers) {
    list_.askOnce(peer("a", 0x0A000001, 4662, 1), idOf(1));
    clock_.advanceMs(600000);
    list_.askOnce(peer("b", 0x0A000002, 4662, 2), idOf(1));
    clock_.advanceMs(600000);
    list_.askOnce(peer("c", 0x0A000003, 4662, 3), idOf(1));
    EXPECT_EQ(list_.size(), 2u) << "a's entry was stale";
}

TEST_F(SourceListTest, SetRankTakesOnlyAFreshEntry) {
    FakeSourcePeer* p = peer("p", 0x0A000001, 4662, 1);
    list_.askOnce(p, idOf(1));
    list_.setRank(p->user(), 17);
    ASSERT_NE(list_.find(p->user()), nullptr);
    EXPECT_EQ(list_.find(p->user())->rank, 17u);
    clock_.advanceMs(1200000);
    list_.setRank(p->user(), 5);
    EXPECT_EQ(list_.size(), 0u);
    list_.setRank(nullptr, 5);
}

TEST_F(SourceListTest, Removals) {
    // a: high ID with a hash; b: the same address as a, another hash;
    // c: another address with a's hash.
    FakeSourcePeer* a = peer("a", 0x0A000001, 4662, 1);
    FakeSourcePeer* sameAddress = peer("b", 0x0A000001, 4662, 2);
    FakeSourcePeer* sameHash = peer("c", 0x0A000009, 4000, 1);
    FakeSourcePeer* noHash = peer("z", 0x0A000005, 4662, 0);

    list_.askOnce(a, idOf(1));
    list_.removeConnection(sameAddress);
    EXPECT_EQ(list_.size(), 1u) << "removeConnection matches by hash only";
    list_.removeConnection(sameHash);
    EXPECT_EQ(list_.size(), 0u);

    list_.askOnce(noHash, idOf(1));
    FakeSourcePeer* otherNoHash = peer("y", 0x0A000006, 4662, 0);
    list_.removeConnection(otherNoHash);
    EXPECT_EQ(list_.size(), 1u) << "a zero hash names nobody";
    list_.removeConnection(nullptr);

    list_.askOnce(a, idOf(1));
    list_.remove(sameAddress->user());
    EXPECT_EQ(list_.size(), 1u) << "the same user by address";
    EXPECT_EQ(list_.find(a->user()), nullptr);

    list_.askOnce(a, idOf(1));
    list_.removeAddress(0x0A000001, 4663);
    EXPECT_EQ(list_.size(), 2u);
    list_.removeAddress(0x0A000001, 4662);
    EXPECT_EQ(list_.size(), 1u);
    clock_.advanceMs(5 * 1200000);
    list_.remove(noHash->user());
    EXPECT_EQ(list_.size(), 0u) << "remove takes a stale entry too";
}

// The download pool records ranks before the downloads hear them, and a
// slot given back takes the user off the list.
TEST_F(SourceListTest, DownloadPoolKeepsTheList) {
    support::DownloadWorld world;
    SourceList* asked = SourceList::instance();
    ASSERT_NE(asked, nullptr);
    world.peer.record.setUserHash(idOf(4));
    asked->askOnce(&world.peer, idOf(1));
    world.pool->placeInQueue(world.peer.tcpConnection(), 33);
    ASSERT_NE(asked->find(world.peer.user()), nullptr);
    EXPECT_EQ(asked->find(world.peer.user())->rank, 33u);

    world.log.take();
    world.peer.addRef("MSG_OPEN_SLOT");
    world.pool->openSlot(world.peer.tcpConnection());
    EXPECT_EQ(world.log.take(), (std::vector<std::string>{"peer addRef MSG_OPEN_SLOT", "peer slotRelease",
                                                          "peer release DLPool::openSlot 2"}));
    EXPECT_EQ(asked->size(), 0u);
}

}  // namespace
