// Rechecking silent contacts, the network-size reports and the periodic
// hello lookup, on the manual clock.
#include <gtest/gtest.h>

#include "overlay/routing/contact_list.h"
#include "overlay/routing/contact_refresher.h"
#include "overlay/requests/flock_reply_server.h"
#include "overlay/opcodes.h"
#include "overlay/index/service_directory.h"
#include "overlay/overlay_fixture.h"

using namespace overlaytest;

namespace {

class RefresherTest : public GatewayTest {
protected:
    void SetUp() override {
        startGateway();
        silent_ = makeNode(idOf({0x70, 7}), "10.7.0.1", 4672);
        gateway_->contacts()->add(&silent_);
        peer_ = peer("10.7.0.1");
        peer_->onDatagram = [this](support::DatagramPeer&, const support::Datagram& d) {
            if (d.opcode() == INODE_HELLO) helloAt_.push_back(nowMs());
        };
    }
    // Five reports of the node as dead drop it into recheck.
    void dropSilent() {
        for (int i = 0; i < 5; i++) sendFrom(peer("10.7.9.9"), datagram(INODE_DEADNODE, record(silent_)));
        start_ = nowMs();
    }
    int64_t nowMs() {
        ClockReading now = sim_.clock.monotonic();
        return now.seconds * 1000 + now.microseconds / 1000;
    }

    Node silent_;
    support::DatagramPeer* peer_ = nullptr;
    std::vector<int64_t> helloAt_;
    int64_t start_ = 0;
};

TEST_F(RefresherTest, RechecksAfter5_20_45_80SecondsThenForgets) {
    dropSilent();
    EXPECT_FALSE(inTable(silent_.id));
    EXPECT_EQ(gateway_->refresher().recheckCount(), 2) << "scheduled and under recheck";
    sim_.advance(400000, 100);
    ASSERT_EQ(helloAt_.size(), 4u);
    // Each hello waits 35 s for its answer, then the next countdown runs
    // (each wait ends at the first 100 ms tick after it).
    EXPECT_NEAR(helloAt_[0] - start_, 5000, 100);
    EXPECT_NEAR(helloAt_[1] - helloAt_[0], 35000 + 20000, 200);
    EXPECT_NEAR(helloAt_[2] - helloAt_[1], 35000 + 45000, 200);
    EXPECT_NEAR(helloAt_[3] - helloAt_[2], 35000 + 80000, 200);
    EXPECT_EQ(gateway_->refresher().recheckCount(), 0);
    EXPECT_FALSE(inTable(silent_.id));
    EXPECT_EQ(peer_->receivedWith(INODE_HELLO)[0].bytes, datagram(INODE_HELLO, record(gateway_->ownNode())));
}

TEST_F(RefresherTest, AnswerBringsTheContactBackWithoutMisses) {
    dropSilent();
    sim_.advance(61000, 500);
    ASSERT_EQ(helloAt_.size(), 2u);
    sendFrom(peer_, datagram(INODE_HELLOREPLY));
    EXPECT_TRUE(inTable(silent_.id));
    EXPECT_EQ(gateway_->contacts()->root()->leaf(silent_.id)->contacts.findById(silent_.id)->misses, 0);
    EXPECT_EQ(gateway_->refresher().recheckCount(), 0);
    sim_.advance(300000, 1000);
    EXPECT_EQ(helloAt_.size(), 2u);
    EXPECT_TRUE(inTable(silent_.id));
}

TEST_F(RefresherTest, NodeUnderRecheckIsNotPutBackByOthers) {
    dropSilent();
    sendFrom(peer("10.7.0.2"), datagram(INODE_HELLO, record(silent_)));
    sendFrom(peer("10.7.0.3"), datagram(INODE_CONNECT, record(silent_)));
    EXPECT_FALSE(inTable(silent_.id));
    // Nor does another answer of the node end its recheck.
    sendFrom(peer_, datagram(INODE_PUBLISHACK, std::string(16, 'x')));
    EXPECT_EQ(gateway_->refresher().recheckCount(), 2);
    // More reports of it change nothing while it is under recheck.
    sendFrom(peer("10.7.9.9"), datagram(INODE_DEADNODE, record(silent_)));
    EXPECT_EQ(gateway_->refresher().recheckCount(), 2);
}

TEST_F(RefresherTest, TheRecheckListIsBounded) {
    // Twenty contacts at each distance from the own id fill one bucket
    // each; dropping them all fills the recheck list and no more.
    std::vector<Node> contacts;
    for (unsigned depth = 0; contacts.size() < static_cast<size_t>(kRecheckMaxNodes) + 10; depth++) {
        for (unsigned j = 0; j < static_cast<unsigned>(kBucketCapacity); j++) {
            UniqueID id(ownId_);
            id.setBit(depth, !ownId_.bit(depth));
            for (unsigned b = 0; b < 8; b++) id.setBit(120 + b, (j >> b) & 1);
            Node contact = makeNode(id, "10.9.0.1", static_cast<int>(5000 + j));
            gateway_->contacts()->add(&contact);
            // Only the contacts the table took count.
            if (inTable(id)) contacts.push_back(contact);
        }
    }
    for (const Node& contact : contacts)
        for (int miss = 0; miss < 5; miss++) gateway_->refresher().nodeFailed(&contact);
    EXPECT_EQ(gateway_->refresher().recheckCount(), 2 * kRecheckMaxNodes);
    size_t rechecked = 0;
    for (const Node& contact : contacts) {
        EXPECT_FALSE(inTable(contact.id));
        if (gateway_->refresher().isUnderRecheck(&contact)) rechecked++;
    }
    EXPECT_EQ(rechecked, static_cast<size_t>(kRecheckMaxNodes));
}

TEST_F(RefresherTest, NetworkSizeReportsAndHelloLookups) {
    // 12 contacts in the own leaf at depth 0: estimate 12; 50 services.
    for (int i = 0; i < 11; i++) {
        Node contact = makeNode(idOf({0x80, static_cast<uint8_t>(0x10 + i)}), "10.8.0.1", 5000 + i);
        gateway_->contacts()->add(&contact);
    }
    for (int i = 0; i < 50; i++) {
        auto service = new TimedService();
        service->serviceId = idOf({static_cast<uint8_t>(i)});
        gateway_->directory().add(service);
    }
    EXPECT_EQ(gateway_->contacts()->estimateSize(), 12);
    EXPECT_EQ(gateway_->estimatedUsers(), 42u);
    EXPECT_EQ(gateway_->estimatedFiles(), 60u);
    sim_.advance(5000, 1000);
    EXPECT_TRUE(ui_.sizes.empty());
    sim_.advance(1000, 1000);
    ASSERT_EQ(ui_.sizes.size(), 1u);
    EXPECT_EQ(ui_.sizes[0], std::make_pair(42, 60));
    sim_.advance(11000, 1000);
    EXPECT_EQ(ui_.sizes.size(), 1u);
    sim_.advance(1000, 1000);
    EXPECT_EQ(ui_.sizes.size(), 2u);

    // The first hello lookup 600000 ms after start, then every 1200000.
    int lookups = ui_.count("explorerCreated");
    sim_.advance(600000 - 18000 - 1000, 1000);
    EXPECT_EQ(ui_.count("explorerCreated"), lookups);
    sim_.advance(2000, 1000);
    EXPECT_EQ(ui_.count("explorerCreated"), lookups + 1);
    sim_.advance(1200000, 1000);
    EXPECT_EQ(ui_.count("explorerCreated"), lookups + 1);
    sim_.advance(1000, 1000);
    EXPECT_EQ(ui_.count("explorerCreated"), lookups + 2);
}

}  // namespace
