// The partner table: who may partner, replacement, dropping the slowest,
// the connections' keep flags and the "vpart" listing.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "downloads/pool/partner_manager.h"
#include "support/download_world.h"
#include "support/part_digests.h"

namespace {

using namespace support;

class PartnerManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        highest = world.start(pattern_bytes(1000, 1), "high.bin");
        other = world.start(pattern_bytes(1000, 2), "other.bin");
        ASSERT_EQ(world.partners->highest(), highest) << "the first download became Highest";
        table = world.partners;
    }

    // A partner source of the download with a peer of its own.
    FakeFileSource* source(Download* download, const std::string& name, double speed = 1.0) {
        peers_.push_back(std::make_unique<FakeSourcePeer>(&world.log, name + "-peer", 0x01000000u + ++ip_, 4662));
        sources_.push_back(std::make_unique<FakeFileSource>(&world.log, name, download, peers_.back().get()));
        sources_.back()->speed = speed;
        sources_.back()->user = peers_.back()->record;
        return sources_.back().get();
    }

    void fill(Download* download, int count, std::vector<FakeFileSource*>* made = nullptr) {
        for (int i = 0; i < count; i++) {
            FakeFileSource* s = source(download, "f" + std::to_string(slotsMade_++));
            table->addPartner(s);
            if (made) made->push_back(s);
        }
    }

    DownloadWorld world;
    PartnerManager* table = nullptr;
    Download* highest = nullptr;
    Download* other = nullptr;
    std::vector<std::unique_ptr<FakeSourcePeer>> peers_;
    std::vector<std::unique_ptr<FakeFileSource>> sources_;
    uint32_t ip_ = 0;
    int slotsMade_ = 0;
};

TEST_F(PartnerManagerTest, AcceptRules) {
    struct Case {
        const char* what;
        int onHighest;    // partner slots held by sources of the Highest download
        int onOther;      // ... by sources of the other download
        bool askHighest;  // the request names the Highest download's file
        bool accepted;
    };
    const Case cases[] = {
        {"highest, room", 3, 0, true, true},
        {"highest, four of its partners", 4, 0, true, false},
        {"highest, full of others", 0, 4, true, true},
        {"other, two slots taken", 1, 1, false, true},
        {"other, three slots taken", 2, 1, false, false},
        {"other, four slots taken", 4, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fill(highest, c.onHighest);
        fill(other, c.onOther);
        // A user of its own each time: the downloads keep their sources.
        peers_.push_back(std::make_unique<FakeSourcePeer>(&world.log, "asker", 0x09090900u + ++ip_, 4662));
        SourcePeer* asker = peers_.back().get();
        int references = other->refCount();
        world.log.take();
        bool accepted = table->acceptPartner(asker, c.askHighest ? highest->fileHash() : other->fileHash());
        EXPECT_EQ(accepted, c.accepted);
        // An accepted asker was made a source of that download first.
        EXPECT_EQ(world.log.count("made asker"), c.accepted ? 1 : 0);
        EXPECT_EQ(world.log.starting("asker partnerRequested").empty(), !c.accepted);
        EXPECT_EQ(other->refCount(), references) << "the pool's reference is given back";
        for (int i = 0; i < PartnerManager::kSlots; i++) table->removePartner(table->slot(i));
    }
}

TEST_F(PartnerManagerTest, APartnerIsAcceptedAgainWhateverItNames) {
    FakeFileSource* held = source(other, "held");
    table->addPartner(held);
    fill(highest, 3);
    // Its user asks again, naming a file nobody downloads.
    FakeSourcePeer again(&world.log, "again", held->user.ip(), held->user.port());
    EXPECT_TRUE(table->acceptPartner(&again, UniqueID()));
    EXPECT_TRUE(table->acceptPartner(static_cast<SourcePeer*>(held->peer), highest->fileHash()));
}

TEST_F(PartnerManagerTest, NoHighestDownloadAcceptsNobody) {
    table->setHighest(nullptr);
    FakeSourcePeer asker(&world.log, "asker", 0x09090909, 4662);
    EXPECT_FALSE(table->acceptPartner(&asker, other->fileHash()));
    EXPECT_FALSE(table->acceptPartner(nullptr, other->fileHash()));
}

TEST_F(PartnerManagerTest, AddingReplacesTheFirstSourceOfAnotherDownload) {
    std::vector<FakeFileSource*> made;
    fill(highest, 1, &made);
    fill(other, 2, &made);
    fill(highest, 1, &made);
    EXPECT_EQ(table->countOnHighest(), 2);
    world.log.take();
    FakeFileSource* newcomer = source(highest, "new");
    table->addPartner(newcomer);
    EXPECT_EQ(table->slot(1), newcomer) << "slot 1 held the first source of another download";
    EXPECT_EQ(table->countOnHighest(), 3);
    EXPECT_EQ(world.log.take(), (std::vector<std::string>{"f1-peer unkeep", "f1 stopPartner",
                                                           "removePriorityUser f1-peer", "new-peer keep"}));
    // Adding one already held only keeps its connection.
    table->addPartner(newcomer);
    EXPECT_EQ(world.log.take(), (std::vector<std::string>{"new-peer keep"}));
}

TEST_F(PartnerManagerTest, AFifthPartnerOfTheHighestIsNotAdded) {
    std::vector<FakeFileSource*> made;
    fill(highest, 4, &made);
    FakeFileSource* fifth = source(highest, "fifth");
    world.log.take();
    table->addPartner(fifth);
    EXPECT_TRUE(world.log.take().empty());
    for (int i = 0; i < PartnerManager::kSlots; i++) EXPECT_EQ(table->slot(i), made[i]);
    EXPECT_FALSE(table->hasRoom());
}

TEST_F(PartnerManagerTest, DropWorst) {
    struct Case {
        std::vector<double> speeds;
        int dropped;  // slot, -1 for none
    };
    const Case cases[] = {
        {{5.0, 2.0, 9.0, 2.0}, 1},  // a tie keeps the earlier slot
        {{10000.0, 12000.0, 10000.0, 20000.0}, 0},
        {{1.0, 1.0, 1.0}, -1},  // fewer than four on the Highest download
    };
    for (const Case& c : cases) {
        std::vector<FakeFileSource*> made;
        for (double speed : c.speeds) {
            made.push_back(source(highest, "d" + std::to_string(made.size()), speed));
            table->addPartner(made.back());
        }
        world.log.take();
        table->dropWorst();
        std::vector<std::string> log = world.log.take();
        if (c.dropped < 0) {
            EXPECT_TRUE(log.empty());
        } else {
            EXPECT_EQ(table->slot(c.dropped), nullptr);
            std::string name = "d" + std::to_string(c.dropped);
            EXPECT_EQ(log, (std::vector<std::string>{name + "-peer unkeep", name + " stopPartner",
                                                      "removePriorityUser " + name + "-peer"}));
        }
        for (FakeFileSource* s : made) table->removePartner(s);
    }
}

TEST_F(PartnerManagerTest, WantsPartnerOnlyWhenBetterThanSomeoneOnceFull) {
    std::vector<FakeFileSource*> made;
    fill(highest, 3, &made);
    FakeFileSource* tested = source(highest, "tested", 0.5);
    EXPECT_TRUE(table->wantsPartner(tested)) << "room left";
    table->addPartner(tested);
    made[1]->speed = 0.4;
    EXPECT_TRUE(table->wantsPartner(tested));
    made[1]->speed = 0.5;
    EXPECT_FALSE(table->wantsPartner(tested)) << "equal is not better";
}

TEST_F(PartnerManagerTest, ClosedConnectionsLeaveTheTableButNotThePriorityList) {
    FakeFileSource* s = source(highest, "s");
    table->addPartner(s);
    EXPECT_TRUE(table->isPartner(s->peer));
    world.log.take();
    table->peerClosed(s->peer);
    EXPECT_FALSE(table->isPartner(s->peer));
    EXPECT_EQ(table->countOnHighest(), 0);
    EXPECT_EQ(world.log.take(), (std::vector<std::string>{"s-peer unkeep", "s stopPartner"}));
    // removePartner of a source no longer held finds nothing.
    table->removePartner(s);
    EXPECT_TRUE(world.log.take().empty());
}

TEST_F(PartnerManagerTest, TheUploadsAskThePoolAboutAConnection) {
    FakeFileSource* s = source(highest, "s");
    world.peers.add(peers_.back().get());
    TCPConnection* wire = peers_.back()->connection;
    EXPECT_FALSE(world.pool->isPartner(wire));
    table->addPartner(s);
    EXPECT_TRUE(world.pool->isPartner(wire));
    EXPECT_FALSE(world.pool->isPartner(nullptr));
    world.pool->partnerClosed(wire);
    EXPECT_FALSE(table->isPartner(s->peer));
}

TEST_F(PartnerManagerTest, SetHighestCountsItsSlotsAgain) {
    fill(other, 2);
    fill(highest, 1);
    EXPECT_EQ(table->countOnHighest(), 1);
    table->setHighest(other);
    EXPECT_EQ(table->countOnHighest(), 2);
    table->setHighest(nullptr);
    EXPECT_EQ(table->countOnHighest(), 0);
}

TEST_F(PartnerManagerTest, PrintAndRank) {
    table->setHighest(nullptr);
    world.ui.clear();
    table->print();
    EXPECT_EQ(world.ui.printed(),
              (std::vector<std::string>{"Partners: ", "Highest: NULL", "0) NULL", "1) NULL", "2) NULL", "3) NULL"}));
    table->setHighest(highest);
    table->addPartner(source(highest, "x"));
    world.ui.clear();
    table->print();
    EXPECT_EQ(world.ui.printed(),
              (std::vector<std::string>{"Partners: ", "Highest: high.bin", "0) x-peer", "1) NULL", "2) NULL", "3) NULL"}));
    world.ui.clear();
    EXPECT_EQ(table->getRank(nullptr), -1.0);
    EXPECT_EQ(world.ui.printed(), (std::vector<std::string>{"ERROR: PartnerManager::getRank(NULL)\n"}));
}

}  // namespace
