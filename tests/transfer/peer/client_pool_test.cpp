// The peer pool: connect results, making room, the door's limit, handler
// order and connection failures.
#include <gtest/gtest.h>

#include "core/bus/message_q.h"
#include "core/net/ip_text.h"
#include "core/net/network_protocol.h"
#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer_door.h"
#include "support/loopback.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer_world_fixture.h"
#include "v4ada/net/socket.h"

#include <unistd.h>

namespace transfertest {
namespace {

class ClientPoolTest : public PeerWorld {
protected:
    void TearDown() override {
        for (Peer* peer : listed_) delete peer;
        clientPool()->setDialer(nullptr);
        PeerWorld::TearDown();
    }
    // A listed peer without a socket (deleted by the test's end).
    Peer* listedPeer(const char* nickname, uint32_t ip, uint16_t port, bool persistent = true) {
        auto peer = new Peer(ip, port, persistent);
        peer->user()->setNickname(nickname);
        clientPool()->addPeer(peer);
        listed_.push_back(peer);
        return peer;
    }
    void fillPool(int connections) {
        for (int i = 0; i < connections; i++) core_->socketPool()->add(new IdleConnection());
    }

    FakeDialer dialer_;
    std::vector<Peer*> listed_;
};

TEST_F(ClientPoolTest, ConnectResults) {
    clientPool()->setDialer(&dialer_);
    const uint32_t high = ipFromText("198.51.100.20");
    const uint32_t buddy = ipFromText("192.0.2.99");
    Peer* known = listedPeer("known", ipFromText("203.0.113.1"), 4662);
    struct Case {
        const char* what;
        uint32_t ownIp;
        uint32_t userIp;
        uint16_t userPort;
        uint32_t userBuddy;
        bool gateway;
        bool callbackAnswer;
        int result;
        size_t dialed;
    } cases[] = {
        {"self, high own ID", high, high, 4662, 0, true, true, ClientPool::kNotCalled, 0},
        {"same address, other port", high, high, 4663, 0, true, true, ClientPool::kConnecting, 1},
        {"self, low own ID", 5, 5, 1, buddy, true, true, ClientPool::kNotCalled, 0},
        {"0xFFFFFF is called directly", 5, 0xFFFFFF, 4662, 0, true, false, ClientPool::kConnecting, 1},
        {"already connected", high, ipFromText("203.0.113.1"), 4662, 0, true, false, ClientPool::kConnected, 0},
        {"both low", 0xFFFFFE, 7, 4662, buddy, true, true, ClientPool::kBothLowId, 0},
        {"low user, call-back asked", high, 7, 4662, buddy, true, true, ClientPool::kConnecting, 0},
        {"low user, call-back refused", high, 7, 4662, buddy, true, false, ClientPool::kNotCalled, 0},
        {"low user, no overlay", high, 7, 4662, buddy, false, true, ClientPool::kNotCalled, 0},
    };
    coreOptions()->setBuddyIP(buddy);
    for (const Case& c : cases) {
        coreOptions()->setOwnIP(c.ownIp);
        sides_.gateway.callbackAnswer = c.callbackAnswer;
        setNetworkGateway(c.gateway ? &sides_.gateway : nullptr);
        UserMeta user = makeUser("u", c.userIp, c.userPort, 0);
        user.setBuddyIp(c.userBuddy);
        size_t before = dialer_.dialed.size();
        Peer* out = nullptr;
        EXPECT_EQ(clientPool()->connect(&user, &out, false), c.result) << c.what;
        EXPECT_EQ(dialer_.dialed.size() - before, c.dialed) << c.what;
        if (c.result == ClientPool::kConnected) {
            EXPECT_EQ(out, known) << c.what;
        }
        if (c.dialed) {
            EXPECT_EQ(dialer_.dialed.back()->remoteIp(), c.userIp) << c.what;
            EXPECT_FALSE(dialer_.dialed.back()->persistent()) << c.what;
        }
    }
    setNetworkGateway(&sides_.gateway);
    // Already connected: that connection whatever the flag.
    UserMeta again = makeUser("k", ipFromText("203.0.113.1"), 4662, 0);
    Peer* out = nullptr;
    EXPECT_EQ(clientPool()->connect(&again, &out, true), ClientPool::kConnected);
    EXPECT_EQ(out, known);
}

TEST_F(ClientPoolTest, MakeRoomClosesPeersWithoutHoldersInListOrder) {
    clientPool()->setDialer(&dialer_);
    coreOptions()->setMaxConnections(5);
    Peer* held = listedPeer("held", ipFromText("203.0.113.1"), 1);
    held->addRef("test");
    Peer* first = listedPeer("first", ipFromText("203.0.113.2"), 2);
    handler_.keepPeers = true;  // holds the outgoing one
    Peer* outgoing = listedPeer("outgoing", ipFromText("203.0.113.3"), 3, false);
    handler_.keepPeers = false;
    Peer* second = listedPeer("second", ipFromText("203.0.113.4"), 4);
    Peer* third = listedPeer("third", ipFromText("203.0.113.5"), 5);
    UserMeta target = makeUser("t", ipFromText("198.51.100.7"), 4662, 0);
    Peer* out = nullptr;
    // Exactly maxCon: still room, nothing closed.
    fillPool(5);
    EXPECT_EQ(clientPool()->connect(&target, &out, false), ClientPool::kConnecting);
    for (Peer* peer : listed_) EXPECT_EQ(peer->queuedPackets(), 0);
    // maxCon + 2: the first two droppable peers close once their queues are
    // sent.
    fillPool(2);
    EXPECT_TRUE(clientPool()->makeRoom());
    EXPECT_EQ(held->queuedPackets(), 0);
    EXPECT_EQ(first->queuedPackets(), 1);
    EXPECT_EQ(outgoing->queuedPackets(), 0);
    EXPECT_EQ(second->queuedPackets(), 1);
    EXPECT_EQ(third->queuedPackets(), 0);
    // Nobody droppable: no room.
    for (Peer* peer : {first, second, third}) peer->addRef("test");
    EXPECT_EQ(clientPool()->connect(&target, &out, false), ClientPool::kNoRoom);
}

TEST_F(ClientPoolTest, DoorAcceptsBelowMinOfMaxConPlusTenAndTwiceMaxCon) {
    EXPECT_EQ(PeerDoor::acceptLimit(45), 55);
    EXPECT_EQ(PeerDoor::acceptLimit(5), 10);
    coreOptions()->setMaxConnections(45);
    PeerDoor door(4662);
    EXPECT_EQ(peerDoor(), &door);
    fillPool(54);
    EXPECT_TRUE(door.acceptAllowed());
    fillPool(1);
    EXPECT_FALSE(door.acceptAllowed());
}

TEST_F(ClientPoolTest, HandlersHearEventsInRegistrationOrder) {
    RecordingHandler first(&events_, "a");
    RecordingHandler second(&events_, "b");
    clientPool()->addHandler(&first);
    clientPool()->addHandler(&second);
    Peer* peer = listedPeer("p", ipFromText("203.0.113.9"), 1);
    EXPECT_EQ(events_, (CallLog{"h.newPeer", "a.newPeer", "b.newPeer"}));
    // A second addPeer calls nobody.
    clientPool()->addPeer(peer);
    EXPECT_EQ(events_.size(), 3u);
    EXPECT_EQ(clientPool()->peerCount(), 1);
    EXPECT_EQ(clientPool()->findByUserHash(peer->user()->userHash()), peer);
    clientPool()->notifyConnectFailed(7, 40000);
    delete peer;
    listed_.clear();
    EXPECT_EQ(events_, (CallLog{"h.newPeer", "a.newPeer", "b.newPeer", "h.connectFailed 7:40000",
                                "a.connectFailed 7:40000", "b.connectFailed 7:40000", "h.peerClosed", "a.peerClosed",
                                "b.peerClosed"}));
    EXPECT_FALSE(clientPool()->contains(peer));
}

TEST_F(ClientPoolTest, PeerNobodyKeepsClosesUnlessPersistent) {
    Peer* outgoing = listedPeer("o", ipFromText("203.0.113.10"), 1, false);
    Peer* accepted = listedPeer("i", ipFromText("203.0.113.11"), 2, true);
    EXPECT_EQ(outgoing->queuedPackets(), 1);
    EXPECT_EQ(accepted->queuedPackets(), 0);
    // A handler that keeps it holds it open.
    handler_.keepPeers = true;
    Peer* kept = listedPeer("k", ipFromText("203.0.113.12"), 3, false);
    EXPECT_EQ(kept->queuedPackets(), 0);
    EXPECT_EQ(kept->useCount(), 1);
    kept->release("test");
    EXPECT_EQ(kept->queuedPackets(), 1);
}

TEST_F(ClientPoolTest, FailedConnectToAHighPortReachesEveryHandler) {
    // Without sockets: the dialer fails the attempt like a connect thread.
    RecordingHandler other(&events_, "b");
    clientPool()->addHandler(&other);
    clientPool()->setDialer(&dialer_);
    UserMeta user = makeUser("far", ipFromText("198.51.100.30"), 40000, 0);
    Peer* out = nullptr;
    ASSERT_EQ(clientPool()->connect(&user, &out, false), ClientPool::kConnecting);
    dialer_.fail(0);
    std::string expected = std::to_string(ipFromText("198.51.100.30")) + ":40000";
    ASSERT_TRUE(stepUntil([&] { return events_.size() >= 2; }));
    EXPECT_EQ(events_, (CallLog{"h.connectFailed " + expected, "b.connectFailed " + expected}));

    // Through the core's connector, to a loopback port that refuses.
    events_.clear();
    clientPool()->setDialer(nullptr);
    int port = 0;
    int fd = support::raw_refusing_tcp(&port);
    UserMeta refusing = makeUser("near", ipFromText("127.0.0.1"), static_cast<uint16_t>(port), 0);
    ASSERT_EQ(clientPool()->connect(&refusing, &out, false), ClientPool::kConnecting);
    ASSERT_TRUE(stepUntil([&] { return events_.size() >= 2; }));
    std::string refused = std::to_string(ipFromText("127.0.0.1")) + ":" + std::to_string(port);
    EXPECT_EQ(events_, (CallLog{"h.connectFailed " + refused, "b.connectFailed " + refused}));
    ::close(fd);
}

TEST_F(ClientPoolTest, ConnectedOutgoingPeerHelloesAndJoins) {
    // A real listener on the loopback plays the other client.
    std::shared_ptr<i4_protocol> protocol = networkProtocol();
    i4_socket* listener = protocol->listen(0, 0, kSocketStream, nullptr);
    ASSERT_NE(listener, nullptr);
    int port = support::local_port(listener);
    UserMeta user = makeUser("ola", ipFromText("127.0.0.1"), static_cast<uint16_t>(port), 0);
    Peer* out = nullptr;
    ASSERT_EQ(clientPool()->connect(&user, &out, false), ClientPool::kConnecting);
    i4_socket* accepted = nullptr;
    ASSERT_TRUE(stepUntil([&] { return listener->accept(&accepted) && accepted; }));
    listener->close();
    delete listener;
    int fd = dup(static_cast<i4_tcpip_sock*>(accepted)->descriptor());
    delete accepted;
    FrameClient other(fd);
    ASSERT_TRUE(awaitFrames(other, 1));
    EXPECT_EQ(other.frames[0].opcode, ICLT_HELLO);
    UserMeta ola = makeUser("ola", 0, static_cast<uint16_t>(port), 50);
    other.send(ICLT_HELLO_ANSWER, helloPayload(ola, 0, 0, false, true));
    // Nobody keeps it: it joins, then closes once its queue is sent.
    EXPECT_TRUE(awaitClose(other));
    EXPECT_EQ(clientPool()->peerCount(), 0);
    EXPECT_EQ(events_, (CallLog{"h.newPeer", "h.peerClosed"}));
}

}  // namespace
}  // namespace transfertest
