// The overlay's peer link over the peer pool: connects with the pool's
// results, what the overlay reads of a peer, uses, the idle count, the
// three messages and the handlers.
#include <gtest/gtest.h>

#include "core/net/ip_text.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer_world_fixture.h"
#include "transfer/peer/pool_peer_link.h"

namespace transfertest {
namespace {

class PoolPeerLinkTest : public PeerWorld {
protected:
    void TearDown() override {
        clientPool()->setDialer(nullptr);
        PeerWorld::TearDown();
    }
    PoolPeerLink link_;
    FakeDialer dialer_;
};

TEST_F(PoolPeerLinkTest, ConnectGoesThroughThePoolNotPersistent) {
    clientPool()->setDialer(&dialer_);
    TCPConnection* out = nullptr;
    EXPECT_EQ(link_.connect(ipFromText("198.51.100.4"), 40000, &out), PeerLink::kConnecting);
    ASSERT_EQ(dialer_.dialed.size(), 1u);
    EXPECT_EQ(dialer_.dialed[0]->remoteIp(), ipFromText("198.51.100.4"));
    EXPECT_EQ(dialer_.dialed[0]->remotePort(), 40000);
    EXPECT_FALSE(dialer_.dialed[0]->persistent());
    dialer_.fail(0);
    step();
    EXPECT_EQ(events_, (CallLog{"h.connectFailed " + std::to_string(ipFromText("198.51.100.4")) + ":40000"}));
}

TEST_F(PoolPeerLinkTest, FactsUsesAndMessagesOfAListedPeer) {
    RecordingHandler overlay(&events_, "overlay");
    link_.addHandler(&overlay);
    std::unique_ptr<FrameClient> client;
    UserMeta user = makeUser("fw", ipFromText("1.0.0.0"), 4811, 77);
    Peer* peer = acceptHello(&client, user);
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(awaitFrames(*client, 1));
    EXPECT_EQ(overlay.seen.size(), 1u);
    PeerFacts facts = link_.facts(peer);
    EXPECT_EQ(facts.socketIp, ipFromText("127.0.0.1")) << "the socket's address, not the claimed one";
    EXPECT_EQ(facts.helloIp, ipFromText("1.0.0.0"));
    EXPECT_EQ(facts.port, 4811);
    EXPECT_TRUE(facts.userHash.equals(user.userHash()));
    EXPECT_EQ(link_.findByUserHash(user.userHash()), peer);

    link_.hold(peer, "test");
    EXPECT_EQ(peer->useCount(), 1);
    step(70000);
    link_.keepAlive(peer);
    EXPECT_EQ(peer->idleMs(), 1);
    link_.sendPing(peer);
    link_.sendPortReachable(peer);
    link_.sendCallbackRequest(peer, ipFromText("1.2.3.4"), 40000);
    ASSERT_TRUE(awaitFrames(*client, 4));
    EXPECT_EQ(client->frames[1].opcode, ICLT_PING);
    EXPECT_EQ(client->frames[2].opcode, ICLT_PORT_REACHABLE);
    EXPECT_EQ(client->frames[3].opcode, ICLT_CALLBACK_REQUEST);
    link_.release(peer, "test");
    EXPECT_EQ(peer->useCount(), 0);

    link_.removeHandler(&overlay);
    std::unique_ptr<FrameClient> second;
    ASSERT_NE(acceptHello(&second, makeUser("other", 0, 4812, 78)), nullptr);
    EXPECT_EQ(overlay.seen.size(), 1u) << "removed handlers hear nothing";
}

}  // namespace
}  // namespace transfertest
