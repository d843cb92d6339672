// The serving side for firewalled clients: reachability checks answered
// over the fake peer pool, buddy entries and their bounds, relayed calls,
// the listing; and the asking side, the call asker.
#include <gtest/gtest.h>

#include "core/meta/user_meta.h"
#include "core/net/ip_text.h"
#include "core/net/tcp_connection.h"
#include "overlay/routing/contact_list.h"
#include "overlay/opcodes.h"
#include "overlay/index/service.h"
#include "overlay/overlay_fixture.h"
#include "support/peer_link_fakes.h"

using namespace overlaytest;

namespace {

class BuddyListTest : public GatewayTest {
protected:
    void SetUp() override {
        host_->door = 4662;
        startGateway();
        tested_ = peer("10.0.0.9", 5000);
    }
    support::FakePeerLink& link() { return host_->link; }
    void check(uint16_t tcpPort, support::DatagramPeer* from = nullptr) {
        sendFrom(from != nullptr ? from : tested_, datagram(INODE_FIREWALLCHECK, le16(tcpPort)));
    }
    TCPConnection* connection(const char* dotted, uint16_t port, const UniqueID& user, const std::string& name) {
        PeerFacts facts;
        facts.socketIp = ipFromText(dotted);
        facts.port = port;
        facts.helloIp = facts.socketIp;
        facts.userHash = user;
        return link().makeConnection(facts, name);
    }
    void askBuddy(support::DatagramPeer* from, const UniqueID& id) {
        sendFrom(from, datagram(INODE_BUDDYREQUEST, record(makeNode(id, from->ip(), from->port()))));
    }
    std::vector<std::string> listing() {
        output_.clear();
        gateway_->buddies().list();
        return output_.printed();
    }

    support::DatagramPeer* tested_ = nullptr;
};

TEST_F(BuddyListTest, CheckAnsweredOpenOnceTheConnectionIsMade) {
    check(4662);
    ASSERT_EQ(tested_->received.size(), 1u);
    EXPECT_EQ(tested_->received[0].bytes, datagram(INODE_YOURIP, le32(ipFromText("10.0.0.9"))));
    EXPECT_EQ(link().logged("connect"), std::vector<std::string>{"connect 10.0.0.9:4662"});
    TCPConnection* other = connection("10.0.0.9", 4663, UniqueID(), "other port");
    link().open(other);
    sim_.settle();
    EXPECT_EQ(tested_->received.size(), 1u) << "another door of that address";
    link().open(connection("10.0.0.9", 4662, UniqueID(), "tested"));
    sim_.settle();
    EXPECT_EQ(link().logged("reachable"), std::vector<std::string>{"reachable tested"});
    ASSERT_EQ(tested_->received.size(), 2u);
    EXPECT_EQ(tested_->received[1].bytes, datagram(INODE_FIREWALLOPEN));
    EXPECT_EQ(tested_->received[1].fromPort, kOwnPort);
    EXPECT_EQ(gateway_->buddies().checkCount(), 0);
}

TEST_F(BuddyListTest, CheckAnsweredFirewalledWhenTheConnectionFails) {
    check(40000);  // a door port above 32768 stays unsigned
    EXPECT_EQ(link().logged("connect"), std::vector<std::string>{"connect 10.0.0.9:40000"});
    link().fail(ipFromText("10.0.0.9"), 40000);
    sim_.settle();
    ASSERT_EQ(tested_->received.size(), 2u);
    EXPECT_EQ(tested_->received[1].bytes, datagram(INODE_FIREWALLED));
}

TEST_F(BuddyListTest, ConnectResultsThatBringNoEvent) {
    struct Case {
        int result;
        bool firewalledAtOnce;
    };
    const Case cases[] = {{PeerLink::kBothLowId, true},
                          {PeerLink::kNotCalled, true},
                          {PeerLink::kConnected, false},
                          {PeerLink::kNoRoom, false}};
    int port = 5001;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        support::DatagramPeer* from = peer("10.0.0.10", port++);
        link().connectResult = c.result;
        check(4662, from);
        EXPECT_EQ(from->receivedWith(INODE_YOURIP).size(), 1u);
        EXPECT_EQ(from->receivedWith(INODE_FIREWALLED).size(), c.firewalledAtOnce ? 1u : 0u);
        EXPECT_EQ(gateway_->buddies().checkCount(), 0) << "no check waits for an event that will not come";
    }
}

TEST_F(BuddyListTest, RepeatedChecksShareOneAttemptAndExpire) {
    check(4662);
    check(4662);
    check(4662);
    check(4662);
    EXPECT_EQ(link().logged("connect").size(), 1u);
    EXPECT_EQ(tested_->receivedWith(INODE_YOURIP).size(), 4u);
    link().fail(ipFromText("10.0.0.9"), 4662);
    sim_.settle();
    EXPECT_EQ(tested_->receivedWith(INODE_FIREWALLED).size(), 3u) << "each tester of the node, at most three";

    check(4662);
    sim_.advance(30100);
    EXPECT_EQ(gateway_->buddies().checkCount(), 0);
    link().fail(ipFromText("10.0.0.9"), 4662);
    sim_.settle();
    EXPECT_EQ(tested_->receivedWith(INODE_FIREWALLED).size(), 3u) << "dropped after 30000 ms";
}

TEST_F(BuddyListTest, BuddyEntryHoldsItsConnectionUntilItCloses) {
    support::DatagramPeer* asker = peer("10.0.0.20", 4672);
    UniqueID id = idOf({0x55});
    askBuddy(asker, id);
    ASSERT_EQ(asker->received.size(), 1u);
    EXPECT_EQ(asker->received[0].bytes, datagram(INODE_BUDDYACCEPT, le16(4662)));
    askBuddy(asker, id);
    EXPECT_EQ(gateway_->buddies().count(), 1) << "a repeated request refreshes the entry";
    EXPECT_EQ(asker->receivedWith(INODE_BUDDYACCEPT).size(), 2u);

    link().open(connection("10.0.0.21", 4662, idOf({0x56}), "stranger"));
    TCPConnection* buddy = connection("10.0.0.20", 4662, id, "firewalled one");
    link().open(buddy);
    ASSERT_EQ(gateway_->buddies().entries().front().connection, buddy);
    EXPECT_EQ(link().holdsOf(buddy), 1);
    sim_.advance(300000);
    EXPECT_EQ(gateway_->buddies().count(), 1) << "an entry with its connection stays";
    EXPECT_GE(link().keepAlives(buddy), 3000 - 1);
    link().close(buddy);
    EXPECT_EQ(gateway_->buddies().count(), 0);
}

TEST_F(BuddyListTest, EntriesAreBounded) {
    for (int i = 0; i < kBuddyEntriesMax; i++) askBuddy(peer("10.0.1.1", 6000 + i), idOf({0x60, static_cast<uint8_t>(i)}));
    EXPECT_EQ(gateway_->buddies().count(), kBuddyEntriesMax);
    support::DatagramPeer* late = peer("10.0.1.2", 6000);
    askBuddy(late, idOf({0x61}));
    ASSERT_EQ(late->received.size(), 1u);
    EXPECT_EQ(late->received[0].bytes, datagram(INODE_BUDDYREFUSE));
    // Entries whose connection never came go after 120000 ms.
    sim_.advance(120000);
    EXPECT_EQ(gateway_->buddies().count(), kBuddyEntriesMax);
    sim_.advance(200);
    EXPECT_EQ(gateway_->buddies().count(), 0);
    askBuddy(late, idOf({0x61}));
    EXPECT_EQ(late->receivedWith(INODE_BUDDYACCEPT).size(), 1u);

    support::DatagramPeer* counter = peer("10.0.1.3", 6000);
    sendFrom(counter, datagram(INODE_GETNUMBUDDIES));
    ASSERT_EQ(counter->received.size(), 1u);
    EXPECT_EQ(counter->received[0].bytes, datagram(INODE_NUMBUDDIES, le32(1)));
}

TEST_F(BuddyListTest, CallRequestsRelayedOrFailed) {
    UniqueID user = idOf({0x77});
    support::DatagramPeer* asker = peer("10.0.0.30", 5555);
    std::string request = datagram(INODE_CALLREQUEST, idBytes(user) + le16(40001));
    sendFrom(asker, request);
    ASSERT_EQ(asker->received.size(), 1u);
    EXPECT_EQ(asker->received[0].bytes, datagram(INODE_CALLFAILED, idBytes(user)));
    link().open(connection("10.0.0.40", 4662, user, "callee"));
    sendFrom(asker, request);
    EXPECT_EQ(link().logged("callback"), std::vector<std::string>{"callback callee 10.0.0.30:40001"});
    ASSERT_EQ(asker->received.size(), 2u);
    EXPECT_EQ(asker->received[1].bytes, datagram(INODE_CALLRELAYED, idBytes(user)));
    sendFrom(asker, request.substr(0, request.size() - 1));
    EXPECT_EQ(asker->received.size(), 2u) << "a short request is dropped";
}

TEST_F(BuddyListTest, ListingNumbersEntriesFromZero) {
    EXPECT_EQ(listing(), std::vector<std::string>{"Buddies:"});
    askBuddy(peer("10.0.2.1"), idOf({0x71}));
    askBuddy(peer("10.0.2.2"), idOf({0x72}));
    askBuddy(peer("10.0.2.3"), idOf({0x73}));
    link().open(connection("10.0.2.1", 4662, idOf({0x71}), "first"));
    link().open(connection("10.0.2.3", 4662, idOf({0x73}), "third"));
    EXPECT_EQ(listing(), (std::vector<std::string>{"Buddies:", "0) first", "1) (null)", "2) third"}));
}

class CallAskerTest : public GatewayTest {
protected:
    void SetUp() override {
        host_->door = 4662;
        startGateway();
        for (int i = 0; i < 4; i++) {
            std::string address = "10.0.3." + std::to_string(i + 1);
            Node contact = makeNode(idOf({static_cast<uint8_t>(0x30 + i)}), address.c_str(), 4672);
            gateway_->contacts()->add(&contact);
            peer(address.c_str());
        }
        sim_.network.recording = true;
    }
    // Route requests for the user's buddy record.
    size_t searchesFor(const UniqueID& user) {
        size_t n = 0;
        for (const support::Datagram& d : sim_.network.log)
            if (d.opcode() == INODE_ROUTE && d.bytes.substr(3) == idBytes(user)) n++;
        return n;
    }
    UserMeta userWithBuddy(const UniqueID& user, const char* buddy, uint16_t port) {
        UserMeta meta;
        meta.setUserHash(user);
        meta.setBuddyIp(ipFromText(buddy));
        meta.setBuddyPort(port);
        return meta;
    }
};

TEST_F(CallAskerTest, OneRequestPerBuddyThenOneSearch) {
    UniqueID user = idOf({0x99});
    support::DatagramPeer* buddy = peer("10.0.4.1", 4672);
    UserMeta meta = userWithBuddy(user, "10.0.4.1", 4672);
    EXPECT_FALSE(gateway_->askCallback(nullptr));
    EXPECT_TRUE(gateway_->askCallback(&meta));
    sim_.settle();
    EXPECT_TRUE(gateway_->askCallback(&meta));
    sim_.settle();
    ASSERT_EQ(buddy->received.size(), 1u) << "one request per buddy address at a time";
    EXPECT_EQ(buddy->received[0].bytes, datagram(INODE_CALLREQUEST, idBytes(user) + le16(4662)));
    EXPECT_EQ(searchesFor(user), 0u);

    sendFrom(buddy, datagram(INODE_CALLFAILED, idBytes(user)));
    EXPECT_EQ(gateway_->callAsker().askedCount(), 0);
    EXPECT_GT(searchesFor(user), 0u) << "the failure searches the buddy record";

    // The record names another buddy: asked once, and not searched again.
    Service found;
    found.serviceId = user;
    int32_t ip = static_cast<int32_t>(ipFromText("10.0.4.2"));
    int32_t port = 4673;
    found.set("ip", &ip, kTagInt);
    found.set("port", &port, kTagInt);
    support::DatagramPeer* second = peer("10.0.4.2", 4673);
    gateway_->callAsker().gotResult(&found);
    gateway_->callAsker().gotResult(&found);
    sim_.settle();
    EXPECT_EQ(second->receivedWith(INODE_CALLREQUEST).size(), 1u);
    int requesters = gateway_->requesterCount();
    sendFrom(second, datagram(INODE_CALLFAILED, idBytes(user)));
    EXPECT_EQ(gateway_->requesterCount(), requesters);
    EXPECT_EQ(gateway_->callAsker().askedCount(), 0);
}

TEST_F(CallAskerTest, SilenceSearchesRelayedDoesNot) {
    UniqueID user = idOf({0x9A});
    UserMeta meta = userWithBuddy(user, "10.0.4.3", 4672);
    support::DatagramPeer* buddy = peer("10.0.4.3", 4672);
    gateway_->askCallback(&meta);
    sim_.settle();
    sendFrom(buddy, datagram(INODE_CALLRELAYED, idBytes(user)));
    EXPECT_EQ(gateway_->callAsker().askedCount(), 0);
    EXPECT_EQ(searchesFor(user), 0u);

    gateway_->askCallback(&meta);
    sim_.advance(15000);
    EXPECT_EQ(searchesFor(user), 0u);
    sim_.advance(200);
    EXPECT_GT(searchesFor(user), 0u);
    // A user without buddy address is searched at once.
    UniqueID lowId = idOf({0x9B});
    UserMeta unknown;
    unknown.setUserHash(lowId);
    gateway_->askCallback(&unknown);
    sim_.settle();
    EXPECT_GT(searchesFor(lowId), 0u);
}

}  // namespace
