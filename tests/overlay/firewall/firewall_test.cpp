// The firewall test on the manual clock: testers and their verdicts, the
// buddy path over the fake peer pool, the buddy ping, and the locations
// held back until they can be published.
#include <gtest/gtest.h>

#include "core/net/ip_text.h"
#include "core/net/tcp_connection.h"
#include "overlay/routing/contact_list.h"
#include "overlay/opcodes.h"
#include "overlay/index/service_publisher.h"
#include "overlay/overlay_fixture.h"
#include "support/peer_link_fakes.h"

using namespace overlaytest;

namespace {

class FirewallTest : public GatewayTest {
protected:
    void SetUp() override {
        sim_.network.recording = true;
        startGateway();
        for (int i = 0; i < 3; i++) addContact(i);
    }

    void addContact(int i) {
        std::string address = "10.0.0." + std::to_string(11 + i);
        Node contact = makeNode(idOf({static_cast<uint8_t>(0x10 + i)}), address.c_str(), 4672);
        gateway_->contacts()->add(&contact);
        peer(address.c_str());
    }

    // The datagrams the gateway sent with that opcode, oldest first.
    std::vector<support::Datagram> sent(uint8_t opcode) {
        std::vector<support::Datagram> found;
        for (const support::Datagram& d : sim_.network.log)
            if (d.fromIp == ownIp() && d.opcode() == opcode) found.push_back(d);
        return found;
    }

    // Runs until the three first checks went out.
    void startTest() {
        sim_.advance(10000);
        ASSERT_TRUE(sent(INODE_FIREWALLCHECK).empty()) << "nothing during the first 10000 ms";
        sim_.advance(300);
        ASSERT_EQ(sent(INODE_FIREWALLCHECK).size(), 3u);
    }

    // The contact that got check k answers.
    void answer(size_t k, uint8_t opcode, const std::string& payload = "") {
        support::Datagram check = sent(INODE_FIREWALLCHECK).at(k);
        support::DatagramPeer* tester = sim_.network.peerAt(check.toIp, check.toPort);
        tester->sendTo(ownIp(), kOwnPort, datagram(opcode, payload));
        sim_.settle();
    }
    void reportIp(size_t k, const char* dotted) { answer(k, INODE_YOURIP, le32(ipFromText(dotted))); }

    std::string ownAddress() {
        OwnedString text;
        return ipToText(gateway_->self().ip(), text);
    }

    // A firewalled verdict with the contact 10.0.0.11 asked for a buddy.
    void firewalledAskingFirst() {
        Node first = makeNode(idOf({0x10}), "10.0.0.11", 4672);
        gateway_->firewall().decide(true, &first);
        sim_.settle();
    }
    void acceptFrom(const char* dotted, uint16_t door = 4662) {
        peer(dotted)->sendTo(ownIp(), kOwnPort, datagram(INODE_BUDDYACCEPT, le16(door)));
        sim_.settle();
    }
    TCPConnection* buddyConnection(const char* dotted = "10.0.0.11", uint16_t door = 4662) {
        PeerFacts facts;
        facts.socketIp = ipFromText(dotted);
        facts.port = door;
        facts.helloIp = ipFromText(dotted);
        facts.userHash = idOf({0x10});
        return host_->link.makeConnection(facts, "buddy");
    }
    support::FakePeerLink& link() { return host_->link; }
};

struct VerdictCase {
    const char* name;
    std::vector<std::string> steps;  // "ip k a.b.c.d", "open k", "fw k"
    int status;
    const char* ownIp;
    size_t checksAfter;  // checks sent once the steps are done
    const char* startIp = "";  // an own address known before the test
};

class Verdicts : public FirewallTest, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(Verdicts, DecideAsTheTestersAnswer) {
    const VerdictCase& c = GetParam();
    if (*c.startIp) gateway_->self().setIp(ipFromText(c.startIp));
    startTest();
    for (const std::string& step : c.steps) {
        size_t k = static_cast<size_t>(step[step.find(' ') + 1] - '0');
        if (step.rfind("ip ", 0) == 0) reportIp(k, step.substr(5).c_str());
        if (step.rfind("open ", 0) == 0) answer(k, INODE_FIREWALLOPEN);
        if (step.rfind("fw ", 0) == 0) answer(k, INODE_FIREWALLED);
    }
    sim_.advance(200);
    EXPECT_EQ(gateway_->firewallStatus(), c.status);
    EXPECT_EQ(ownAddress(), c.ownIp);
    EXPECT_EQ(sent(INODE_FIREWALLCHECK).size(), c.checksAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Verdicts,
    ::testing::Values(
        VerdictCase{"OpenFirewalledOpen",
                    {"ip 0 203.0.113.5", "ip 1 203.0.113.5", "open 0", "fw 1", "open 2"}, 0, "203.0.113.5", 3},
        VerdictCase{"OpenOpenDecidesAtTheSecond", {"ip 0 203.0.113.5", "ip 1 203.0.113.5", "open 1", "open 2"}, 0,
                    "203.0.113.5", 3},
        VerdictCase{"FirstAndThirdAddressAgree",
                    {"ip 0 203.0.113.5", "ip 1 198.51.100.2", "ip 2 203.0.113.5"}, 2, "203.0.113.5", 3},
        VerdictCase{"ThreeDifferentAddressesAskAgain",
                    {"ip 0 203.0.113.5", "ip 1 198.51.100.2", "ip 2 192.0.2.1"}, 2, "0.0.0.0", 6},
        VerdictCase{"OpenWithoutAddressTestsAgain", {"open 0", "open 1"}, 2, "0.0.0.0", 6},
        VerdictCase{"FirewalledFirewalled", {"fw 0", "fw 2"}, 1, "0.0.0.0", 3},
        VerdictCase{"OneAnswerEachWayWaits", {"fw 0", "open 1"}, 2, "0.0.0.0", 3},
        // 0 agrees with no tester that is yet to report.
        VerdictCase{"ReportedZeroIsIgnored", {"ip 0 0.0.0.0", "ip 1 203.0.113.5"}, 2, "198.51.100.7", 3,
                    "198.51.100.7"}),
    [](const ::testing::TestParamInfo<VerdictCase>& info) { return std::string(info.param.name); });

TEST_F(FirewallTest, CheckCarriesTheDoorPortAndTestersRetry) {
    host_->door = 40000;
    startTest();
    for (const support::Datagram& check : sent(INODE_FIREWALLCHECK)) {
        EXPECT_EQ(check.bytes.size(), 4u);
        EXPECT_EQ(le16At(check.bytes, 2), 40000);
    }
    reportIp(0, "203.0.113.5");
    // Silent testers ask another contact 10000 ms after their check.
    sim_.advance(9500);
    EXPECT_EQ(sent(INODE_FIREWALLCHECK).size(), 3u);
    sim_.advance(700);
    EXPECT_EQ(sent(INODE_FIREWALLCHECK).size(), 5u);
    // The one that reported an address waits 50000 ms from the report.
    sim_.advance(49800 - 10200);
    EXPECT_EQ(sent(INODE_FIREWALLCHECK).size(), 5u + 2u * 3u);
    sim_.advance(400);
    EXPECT_EQ(sent(INODE_FIREWALLCHECK).size(), 5u + 2u * 3u + 1u);
}

TEST_F(FirewallTest, OneContactServesAllThreeTesters) {
    for (int i = 1; i < 3; i++) {
        Node contact = makeNode(idOf({static_cast<uint8_t>(0x10 + i)}), "10.0.0.11", 4672);
        gateway_->contacts()->remove(&contact);
    }
    startTest();
    for (const support::Datagram& check : sent(INODE_FIREWALLCHECK)) EXPECT_EQ(check.toIp, ipFromText("10.0.0.11"));
    reportIp(0, "203.0.113.5");
    reportIp(0, "203.0.113.5");
    EXPECT_EQ(ownAddress(), "203.0.113.5") << "two testers heard it";
    answer(0, INODE_FIREWALLOPEN);
    answer(0, INODE_FIREWALLOPEN);
    EXPECT_EQ(gateway_->firewallStatus(), 0) << "answers reach the testers in turn";
}

TEST_F(FirewallTest, BuddyAcceptConnectedAtOnce) {
    TCPConnection* buddy = buddyConnection();
    link().connectResult = PeerLink::kConnected;
    link().connected = buddy;
    firewalledAskingFirst();
    ASSERT_EQ(sent(INODE_BUDDYREQUEST).size(), 1u);
    EXPECT_EQ(sent(INODE_BUDDYREQUEST)[0].toIp, ipFromText("10.0.0.11"));
    EXPECT_EQ(sent(INODE_BUDDYREQUEST)[0].bytes.substr(2), record(gateway_->ownNode()));
    acceptFrom("10.0.0.11");
    EXPECT_EQ(link().logged("connect"), std::vector<std::string>{"connect 10.0.0.11:4662"});
    EXPECT_EQ(gateway_->firewall().state(), FirewallTask::kSettled);
    EXPECT_EQ(gateway_->firewallStatus(), 1);
    EXPECT_EQ(link().holdsOf(buddy), 1);
    EXPECT_EQ(gateway_->self().ip(), 1u);
    EXPECT_EQ(host_->buddyIp, ipFromText("10.0.0.11"));
    EXPECT_EQ(host_->buddyPort, 4672);
    EXPECT_EQ(gateway_->buddyIp(), ipFromText("10.0.0.11"));
    EXPECT_EQ(gateway_->buddyPort(), 4672);
    EXPECT_EQ(std::string(gateway_->location().c_str()), "bcp://80010000000000000000000000000000:10.0.0.11:4672");
    // The buddy record waits at the head of the queue.
    ASSERT_GE(gateway_->publisher().queuedCount(), 1);
    const PublishService& head = *gateway_->publisher().queue().front();
    EXPECT_TRUE(head.serviceId.equals(ownId_));
    EXPECT_TRUE(head.descId.equals(idOf({0x40})));
    EXPECT_EQ(head.getInt("ip"), static_cast<int32_t>(ipFromText("10.0.0.11")));
    EXPECT_EQ(head.getInt("port"), 4672);
    EXPECT_EQ(head.interval, 18000);
}

TEST_F(FirewallTest, BuddyAcceptConnectingWaitsForTheConnection) {
    link().connectResult = PeerLink::kConnecting;
    firewalledAskingFirst();
    acceptFrom("10.0.0.11", 40000);
    EXPECT_EQ(gateway_->firewall().state(), FirewallTask::kAwaitingBuddy);
    PeerFacts other;
    other.socketIp = ipFromText("10.0.0.12");
    other.port = 40000;
    link().open(link().makeConnection(other, "someone else"));
    EXPECT_EQ(gateway_->firewall().state(), FirewallTask::kAwaitingBuddy);
    TCPConnection* buddy = buddyConnection("10.0.0.11", 40000);
    link().open(buddy);
    EXPECT_EQ(gateway_->firewall().state(), FirewallTask::kSettled);
    EXPECT_EQ(gateway_->firewall().buddyConnection(), buddy);
    EXPECT_EQ(link().holdsOf(buddy), 1);
}

TEST_F(FirewallTest, RefusedConnectionsAndLostBuddiesAskAgain) {
    link().connectResult = PeerLink::kNoRoom;
    firewalledAskingFirst();
    acceptFrom("10.0.0.11");
    EXPECT_EQ(sent(INODE_BUDDYREQUEST).size(), 2u) << "another contact asked at once";

    link().connectResult = PeerLink::kConnecting;
    Node candidate = gateway_->firewall().buddyCandidate();
    OwnedString text;
    acceptFrom(ipToText(candidate.ip, text));
    link().fail(candidate.ip, 4662);
    EXPECT_EQ(gateway_->firewall().state(), FirewallTask::kSeekingBuddy);
    sim_.advance(100);
    EXPECT_EQ(sent(INODE_BUDDYREQUEST).size(), 3u) << "asked again at the next tick";

    candidate = gateway_->firewall().buddyCandidate();
    acceptFrom(ipToText(candidate.ip, text));
    PeerFacts facts;
    facts.socketIp = candidate.ip;
    facts.port = 4662;
    TCPConnection* buddy = link().makeConnection(facts, "buddy");
    link().open(buddy);
    ASSERT_EQ(gateway_->firewall().state(), FirewallTask::kSettled);
    link().close(buddy);
    EXPECT_EQ(gateway_->firewall().state(), FirewallTask::kSeekingBuddy);
    EXPECT_EQ(gateway_->buddyPort(), 0);
    sim_.advance(100);
    EXPECT_EQ(sent(INODE_BUDDYREQUEST).size(), 4u);
    // Without answers the request is repeated every 20000 ms.
    sim_.advance(20100);
    EXPECT_EQ(sent(INODE_BUDDYREQUEST).size(), 5u);
}

TEST_F(FirewallTest, StrayBuddyAnswersAreIgnored) {
    startTest();
    acceptFrom("10.0.0.11");
    peer("10.0.0.12")->sendTo(ownIp(), kOwnPort, datagram(INODE_BUDDYREFUSE));
    sim_.settle();
    EXPECT_TRUE(link().logged("connect").empty()) << "testing: nobody was asked";
    EXPECT_TRUE(sent(INODE_BUDDYREQUEST).empty());
    EXPECT_EQ(gateway_->firewallStatus(), 2);

    firewalledAskingFirst();
    acceptFrom("10.0.0.12");
    peer("10.0.0.13")->sendTo(ownIp(), kOwnPort, datagram(INODE_BUDDYREFUSE));
    sim_.settle();
    EXPECT_TRUE(link().logged("connect").empty()) << "only the contact asked counts";
    EXPECT_EQ(sent(INODE_BUDDYREQUEST).size(), 1u);
    peer("10.0.0.11")->sendTo(ownIp(), kOwnPort, datagram(INODE_BUDDYREFUSE));
    sim_.settle();
    EXPECT_EQ(sent(INODE_BUDDYREQUEST).size(), 2u) << "the candidate's refusal asks another";
    EXPECT_EQ(sent(INODE_BUDDYREQUEST).back().bytes.substr(2), record(gateway_->ownNode()));
    for (const support::Datagram& request : sent(INODE_BUDDYREQUEST)) EXPECT_NE(request.toIp, ownIp());
}

TEST_F(FirewallTest, BuddyPingedEveryMinuteOnlyWithAConnection) {
    TCPConnection* buddy = buddyConnection();
    link().open(buddy);  // already connected
    link().connectResult = PeerLink::kConnected;
    link().connected = buddy;
    firewalledAskingFirst();
    acceptFrom("10.0.0.11");
    sim_.advance(60000);
    EXPECT_TRUE(link().logged("ping").empty());
    sim_.advance(200);
    EXPECT_EQ(link().logged("ping").size(), 1u);
    sim_.advance(60100);
    EXPECT_EQ(link().logged("ping").size(), 2u);
    // A retest keeps the buddy and its ping.
    gateway_->retestFirewall();
    sim_.advance(60100);
    EXPECT_EQ(link().logged("ping").size(), 3u);
    link().close(buddy);
    sim_.advance(180000);
    EXPECT_EQ(link().logged("ping").size(), 3u);
}

TEST_F(FirewallTest, HeldLocationsGoOutInFrontOnceOpen) {
    UniqueID first = idOf({0xA1});
    UniqueID second = idOf({0xA2});
    Service keyword;
    keyword.serviceId = idOf({0xB1});
    gateway_->publish(&keyword, false, 1.0);
    gateway_->firewall().publishLocation(first);
    gateway_->firewall().publishLocation(second);
    gateway_->firewall().publishLocation(first);
    EXPECT_EQ(gateway_->publisher().queuedCount(), 1) << "held while the verdict is unknown";
    EXPECT_EQ(gateway_->firewall().pendingCount(), 2);

    startTest();
    answer(0, INODE_FIREWALLOPEN);
    answer(1, INODE_FIREWALLOPEN);
    EXPECT_EQ(gateway_->firewallStatus(), 2) << "no address yet: the test starts again";
    EXPECT_EQ(gateway_->publisher().queuedCount(), 1);
    sim_.advance(200);
    reportIp(3, "198.51.100.7");
    reportIp(4, "198.51.100.7");
    answer(3, INODE_FIREWALLOPEN);
    answer(4, INODE_FIREWALLOPEN);
    ASSERT_EQ(gateway_->firewallStatus(), 0);
    EXPECT_EQ(gateway_->firewall().pendingCount(), 0);
    const auto& queue = gateway_->publisher().queue();
    ASSERT_EQ(queue.size(), 3u);
    auto it = queue.begin();
    EXPECT_TRUE((*it)->serviceId.equals(second));
    EXPECT_TRUE((*++it)->serviceId.equals(first));
    EXPECT_STREQ((*it)->textOf("loc"), "bcp://198.51.100.7:4662");
    EXPECT_TRUE((*it)->descId.equals(ownId_));
    EXPECT_EQ((*it)->interval, 7200);
    EXPECT_TRUE((*++it)->serviceId.equals(keyword.serviceId));
}

TEST_F(FirewallTest, PortReachableAloneDoesNotSettleWithoutAnAddress) {
    gateway_->setFirewalled(NetworkGateway::kOpen);
    EXPECT_EQ(gateway_->firewallStatus(), 2);
    gateway_->firewall().publishLocation(idOf({0xA1}));
    EXPECT_EQ(gateway_->publisher().queuedCount(), 0);
    gateway_->self().setIp(ipFromText("203.0.113.9"));
    gateway_->setFirewalled(NetworkGateway::kOpen);
    EXPECT_EQ(gateway_->firewallStatus(), 0);
    EXPECT_EQ(gateway_->publisher().queuedCount(), 1);
    EXPECT_STREQ(gateway_->publisher().queue().front()->textOf("loc"), "bcp://203.0.113.9:4662");
}

}  // namespace
