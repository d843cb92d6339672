// The gateway on the in-memory network: moving the UDP port, the check
// message, the estimates, what stop leaves behind, and the answers of
// publish and the searches.
#include <gtest/gtest.h>

#include <functional>

#include "core/net/check_trailer.h"
#include "overlay/gateway/black_udp_annex.h"
#include "overlay/routing/contact_list.h"
#include "overlay/opcodes.h"
#include "overlay/index/service_directory.h"
#include "overlay/index/service_search.h"
#include "overlay/requests/result_callback.h"
#include "overlay/overlay_fixture.h"
#include "support/files.h"

using namespace overlaytest;

namespace {

class GatewayBehaviour : public GatewayTest {};

TEST_F(GatewayBehaviour, SetUdpPortMovesTheEndpointAndSaysHello) {
    startGateway();
    Node contact = makeNode(idOf({0x81}), "10.6.0.1", 4672);
    gateway_->contacts()->add(&contact);
    support::DatagramPeer* neighbour = peer("10.6.0.1");
    BlackUDPAnnex* old = gateway_->endpoint();
    gateway_->self().setUdpPort(4100);
    sim_.settle();
    EXPECT_NE(gateway_->endpoint(), old);
    EXPECT_EQ(gateway_->ownNode().port, 4100);
    ASSERT_EQ(neighbour->receivedWith(INODE_ROUTE).size(), 1u) << "a hello lookup from the new port";
    EXPECT_EQ(neighbour->receivedWith(INODE_ROUTE)[0].fromPort, 4100);
    EXPECT_EQ(neighbour->receivedWith(INODE_ROUTE)[0].bytes.substr(3), idBytes(ownId_));

    support::DatagramPeer* asker = peer("10.6.0.2");
    asker->sendTo(ownIp(), 4000, datagram(INODE_HELLO, record(contact)));
    sim_.settle();
    EXPECT_TRUE(asker->received.empty()) << "nothing listens on the old port";
    asker->sendTo(ownIp(), 4100, datagram(INODE_HELLO, record(contact)));
    sim_.settle();
    EXPECT_EQ(asker->receivedWith(INODE_HELLOREPLY).size(), 1u);
    BlackUDPAnnex* moved = gateway_->endpoint();
    gateway_->self().setUdpPort(4100);
    EXPECT_EQ(gateway_->endpoint(), moved) << "unchanged: nothing happens";
}

TEST_F(GatewayBehaviour, CheckMessage) {
    startGateway();
    support::DatagramPeer* target = peer("10.6.0.3");
    gateway_->sendCheck("10.6.0.3", 4672, INODE_CHECK);
    sim_.settle();
    ASSERT_EQ(target->received.size(), 1u);
    std::string check = target->received[0].bytes;
    ASSERT_EQ(check.size(), 49u);
    EXPECT_EQ(check.substr(0, 6), datagram(INODE_CHECK, le32(2)));
    EXPECT_EQ(check.substr(6, 23), record(gateway_->ownNode()));
    EXPECT_TRUE(messageCheckTrailer(reinterpret_cast<uint8_t*>(check.data()), check.size(), 15));
    gateway_->sendCheck("not an address", 4672, INODE_CHECK);
    sim_.settle();
    EXPECT_EQ(target->received.size(), 1u);
}

TEST_F(GatewayBehaviour, EstimatesSaturate) {
    startGateway();
    EXPECT_EQ(gateway_->estimatedUsers(), 0u);
    // Own leaf at depth 28 with 8 contacts (own id 0x80 0x01 ...): the
    // estimate saturates, and so do both figures.
    auto fill = [&](unsigned flipped, int n) {
        for (int i = 0; i < n; i++) {
            UniqueID id = ownId_;
            if (flipped < 128) id.setBit(flipped, !ownId_.bit(flipped));
            id.setBit(100u + static_cast<unsigned>(i), !ownId_.bit(100u + static_cast<unsigned>(i)));
            Node contact = makeNode(id, "10.6.1.1", 5000 + i);
            gateway_->contacts()->add(&contact);
        }
    };
    fill(128, 8);
    fill(27, 20);
    ASSERT_EQ(gateway_->contacts()->ownLeaf()->depth, 28);
    for (int i = 0; i < 3; i++) {
        auto service = new TimedService();
        service->serviceId = idOf({static_cast<uint8_t>(i)});
        gateway_->directory().add(service);
    }
    EXPECT_EQ(gateway_->estimatedUsers(), UINT32_MAX);
    EXPECT_EQ(gateway_->estimatedFiles(), static_cast<uint32_t>(uint64_t{INT32_MAX} * 3 / 10));
    sim_.advance(6000, 1000);
    ASSERT_FALSE(ui_.sizes.empty());
    EXPECT_EQ(ui_.sizes.back(), std::make_pair(INT32_MAX, static_cast<int>(uint64_t{INT32_MAX} * 3 / 10)));
}

TEST_F(GatewayBehaviour, StopSavesAndTheNextStartBootsFromThat) {
    startGateway();
    support::DatagramPeer* neighbour = peer("10.6.0.9");
    Node contact = makeNode(idOf({0x90}), "10.6.0.9", 4672);
    sendFrom(neighbour, datagram(INODE_HELLO, record(contact)));
    ASSERT_TRUE(inTable(contact.id));
    gateway_->stop();
    EXPECT_EQ(gateway_->endpoint(), nullptr);
    EXPECT_EQ(gateway_->contacts(), nullptr);
    EXPECT_EQ(gateway_->replyServer(), nullptr);
    EXPECT_EQ(support::read_file(contactPath()), le32(1) + record(contact));
    int32_t port = 0;
    ASSERT_TRUE(host_->savedUdpPort(&port));
    EXPECT_EQ(port, kOwnPort);

    sendFrom(neighbour, datagram(INODE_HELLO, record(contact)));
    EXPECT_EQ(neighbour->receivedWith(INODE_HELLOREPLY).size(), 1u) << "a stopped gateway answers nothing";

    gateway_ = std::make_unique<FlockGateway>(*host_);
    startGateway();
    EXPECT_EQ(neighbour->receivedWith(INODE_CONNECT).size(), 1u);
}

TEST_F(GatewayBehaviour, DrawnUdpPortIsKeptForTheNextStart) {
    host_->forgetSavedPort();
    startGateway();
    int drawn = gateway_->self().udpPort();
    EXPECT_GE(drawn, 3000);
    EXPECT_LE(drawn, 12999);
    gateway_->stop();
    gateway_ = std::make_unique<FlockGateway>(*host_);
    startGateway();
    EXPECT_EQ(gateway_->self().udpPort(), drawn);
}

TEST_F(GatewayBehaviour, PublishAndSearchesAnswerOneWhateverBecomesOfTheirArguments) {
    struct IgnoringCallback : ResultCallback {
        void gotResult(Service*) override {}
        void searchEnd(ServiceSearch*, Node*, int, int) override {}
    } callback;
    Service keyword;
    keyword.serviceId = idOf({0x31});
    keyword.descId = idOf({0x32});
    const Node node = makeNode(idOf({0x90}), "10.6.0.9", 4672);
    auto search = [] { return new ServiceSearch(idOf({0x41})); };
    // Taken-over arguments that are not used are deleted (the sanitizer
    // build finds any leak).
    struct Case {
        const char* what;
        std::function<int()> call;
    } cases[] = {
        {"publish", [&] { return gateway_->publish(&keyword, false, 1.0); }},
        {"publish nothing", [&] { return gateway_->publish(nullptr, true, 0.4); }},
        {"search", [&] { return gateway_->startSearch(search(), &callback); }},
        {"no search", [&] { return gateway_->startSearch(nullptr, &callback); }},
        {"search through a node", [&] { return gateway_->searchNode(new Node(node), search(), &callback); }},
        {"through no node", [&] { return gateway_->searchNode(nullptr, search(), &callback); }},
        {"no search through a node", [&] { return gateway_->searchNode(new Node(node), nullptr, &callback); }},
    };
    startGateway();
    for (const Case& c : cases) EXPECT_EQ(c.call(), 1) << c.what;
    EXPECT_EQ(gateway_->publisher().queuedCount(), 1);
    gateway_->stop();
    for (const Case& c : cases) EXPECT_EQ(c.call(), 1) << "stopped: " << c.what;
}

TEST_F(GatewayBehaviour, StatisticsLinesEveryHour) {
    startGateway();
    sim_.advance(3600000, 10000);
    EXPECT_TRUE(output_.logged().empty());
    sim_.advance(10000, 10000);
    EXPECT_EQ(output_.logged(), (std::vector<std::string>{"Users: 0, Indexing: 0", "Down: 0.000000, Up: 0.000000"}));
    sim_.advance(3600000, 10000);
    EXPECT_EQ(output_.logged().size(), 2u);
    sim_.advance(10000, 10000);
    EXPECT_EQ(output_.logged().size(), 4u);
}

}  // namespace
