// Booting from contact.dat on the manual clock, the boot answers, the
// saved attempts, the hourly save and a contact.dat that does not read.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/net/ip_text.h"
#include "overlay/opcodes.h"
#include "overlay/overlay_fixture.h"
#include "overlay/routing/booter.h"
#include "overlay/routing/contact_list.h"
#include "overlay/routing/node_list.h"
#include "support/files.h"

using namespace overlaytest;

namespace {

class BooterTest : public GatewayTest {
protected:
    // n contacts 10.2.0.i:4672 with ids {0x20 + i}, attempts as given.
    std::vector<Node> saved(int n, std::vector<int> attempts = {}) {
        std::vector<Node> nodes;
        for (int i = 0; i < n; i++) {
            int tries = i < static_cast<int>(attempts.size()) ? attempts[static_cast<size_t>(i)] : 0;
            nodes.push_back(makeNode(idOf({static_cast<uint8_t>(0x20 + i), 2}), (std::string("10.2.0.") + std::to_string(i + 1)).c_str(), 4672, tries));
            peer((std::string("10.2.0.") + std::to_string(i + 1)).c_str());
        }
        return nodes;
    }
    int connects() {
        int n = 0;
        for (int i = 1; i <= 20; i++) {
            support::DatagramPeer* p = sim_.network.peerAt(ipFromText((std::string("10.2.0.") + std::to_string(i)).c_str()), 4672);
            if (p != nullptr) n += static_cast<int>(p->receivedWith(INODE_CONNECT).size());
        }
        return n;
    }
    // A boot answer naming n reachable nodes.
    std::string connectReply(int n) {
        std::string records;
        for (int i = 0; i < n; i++) records += record(makeNode(idOf({0x40, static_cast<uint8_t>(i)}), "10.3.0.1", 5000 + i));
        return datagram(INODE_CONNECTREPLY, le16(static_cast<uint16_t>(n)) + records);
    }
    std::vector<Node> contactFile() {
        NodeList list;
        list.load(contactPath().c_str());
        std::vector<Node> nodes;
        for (Node* n : list.nodes()) nodes.push_back(*n);
        return nodes;
    }
};

TEST_F(BooterTest, SevenContactsAskedThreeThreeOneThenFailure) {
    writeContacts(saved(7));
    startGateway();
    EXPECT_EQ(connects(), 3);
    for (int i = 1; i <= 7; i++) {
        for (const support::Datagram& d : peer((std::string("10.2.0.") + std::to_string(i)).c_str())->received)
            EXPECT_EQ(d.bytes, datagram(INODE_CONNECT, record(gateway_->ownNode())));
    }
    sim_.advance(6000);
    EXPECT_EQ(connects(), 3);
    sim_.advance(100);
    EXPECT_EQ(connects(), 6);
    sim_.advance(6100);
    EXPECT_EQ(connects(), 7);
    EXPECT_EQ(ui_.count("bootDone 0"), 0);
    sim_.advance(6100);
    EXPECT_EQ(ui_.count("bootDone 0"), 1);
    EXPECT_FALSE(gateway_->booter().booting());
    sim_.advance(60000);
    EXPECT_EQ(connects(), 7);
}

TEST_F(BooterTest, AnswerFromOutsideTheBootListIsIgnored) {
    writeContacts(saved(2));
    startGateway();
    sendFrom(peer("10.9.9.9"), connectReply(5));
    EXPECT_EQ(tableSize(), 0);
    EXPECT_TRUE(gateway_->booter().booting());
}

TEST_F(BooterTest, BootAnswerFillsTheTableAndEndsTheBoot) {
    writeContacts(saved(3, {2, 2, 2}));
    startGateway();
    support::DatagramPeer* first = nullptr;
    for (int i = 1; i <= 3; i++) {
        support::DatagramPeer* p = peer((std::string("10.2.0.") + std::to_string(i)).c_str());
        if (!p->received.empty()) first = p;
    }
    ASSERT_NE(first, nullptr);
    sendFrom(first, connectReply(4));
    EXPECT_EQ(tableSize(), 4);
    EXPECT_EQ(ui_.count("bootDone 1"), 0) << "an estimate of 4 is not enough";
    EXPECT_EQ(gateway_->booter().bootList().findByAddress(first->ip(), 4672)->misses, 0);
    sendFrom(first, connectReply(6));
    EXPECT_EQ(ui_.count("bootDone 1"), 1);
    EXPECT_TRUE(gateway_->booter().booted());
    // A count of 0 and a short answer change nothing.
    sendFrom(first, datagram(INODE_CONNECTREPLY, le16(0)));
    sendFrom(first, connectReply(3).substr(0, 30));
    EXPECT_EQ(tableSize(), 6);
}

TEST_F(BooterTest, AttemptsAreSavedAndSortedLast) {
    writeContacts({saved(2, {2, 0})});
    startGateway();
    EXPECT_EQ(connects(), 2);
    gateway_->stop();
    std::vector<Node> file = contactFile();
    ASSERT_EQ(file.size(), 2u);
    EXPECT_TRUE(file[0].id.equals(idOf({0x21, 2})));
    EXPECT_EQ(file[0].misses, 1);
    EXPECT_TRUE(file[1].id.equals(idOf({0x20, 2})));
    EXPECT_EQ(file[1].misses, 3);
    EXPECT_EQ(le16At(support::read_file(contactPath()), 4 + 23 + 20), 4672);
}

TEST_F(BooterTest, RoutingTableIsSavedHourlyAndAtStop) {
    startGateway();
    EXPECT_EQ(ui_.count("bootDone 0"), 1) << "nothing saved: the boot fails at once";
    for (int i = 0; i < 3; i++) {
        Node contact = makeNode(idOf({0x50, static_cast<uint8_t>(i)}), "10.4.0.1", 6000 + i);
        gateway_->contacts()->add(&contact);
    }
    sim_.advance(3600000, 60000);
    EXPECT_FALSE(support::file_exists(contactPath()));
    sim_.advance(60000, 60000);
    EXPECT_EQ(contactFile().size(), 3u);
    Node late = makeNode(idOf({0x51}), "10.4.0.2", 7000);
    gateway_->contacts()->add(&late);
    gateway_->stop();
    EXPECT_EQ(contactFile().size(), 4u);
    int32_t port = 0;
    EXPECT_TRUE(host_->savedUdpPort(&port));
    EXPECT_EQ(port, kOwnPort);
}

TEST_F(BooterTest, UnreadableContactFileIsKeptAsideAndItsNodesUsed) {
    writeContacts(saved(3));
    std::string bytes = support::read_file(contactPath());
    ASSERT_TRUE(support::write_file(contactPath(), bytes.substr(0, 4 + 23 + 10)));
    startGateway();
    EXPECT_NE(output_.text().find("error loading NodeList\nError loading contact list\n"), std::string::npos);
    EXPECT_TRUE(support::file_exists(contactPath() + ".corrupt"));
    EXPECT_FALSE(support::file_exists(contactPath()));
    EXPECT_EQ(connects(), 1) << "the one whole record is asked";
    gateway_->stop();
    EXPECT_EQ(support::read_file(contactPath() + ".corrupt"), bytes.substr(0, 4 + 23 + 10));
}

TEST_F(BooterTest, BootFromAnAddressAndWithoutEndpoint) {
    startGateway();
    support::DatagramPeer* seed = peer("10.5.0.1");
    gateway_->bootFrom("10.5.0.1", 4672);
    sim_.settle();
    EXPECT_EQ(seed->receivedWith(INODE_CONNECT).size(), 1u);
    EXPECT_TRUE(gateway_->booter().booting());
    gateway_->bootFrom("10.5.0.1", 4672);
    sim_.settle();
    EXPECT_EQ(gateway_->booter().bootList().count(), 1) << "the address is listed once";
    EXPECT_EQ(seed->receivedWith(INODE_CONNECT).size(), 2u);

    gateway_->stop();
    gateway_ = std::make_unique<FlockGateway>(*host_);
    host_->socketsAvailable = false;
    output_.clear();
    gateway_->start();
    EXPECT_EQ(output_.text(), "ERROR: Couldn't create UDP socket.\nPlease check your proxy settings.\nERROR: UDP port not open.\n");
    EXPECT_EQ(gateway_->endpoint(), nullptr);
}

}  // namespace
