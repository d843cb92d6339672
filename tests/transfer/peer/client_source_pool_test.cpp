// The peer pool as the download sources see it: every Peer's face, the
// pool's connects and finds in faces, and a closing peer still known to
// the handlers that hear of it.
#include <gtest/gtest.h>

#include <vector>

#include "core/net/ip_text.h"
#include "core/net/peer_event_handler.h"
#include "core/startup/core_thread.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/client_source_pool.h"
#include "transfer/peer/peer.h"
#include "transfer/peer/peer_world_fixture.h"

namespace transfertest {
namespace {

// Looks the closing connection up the way the download pool does.
class FaceLookup final : public PeerEventHandler {
public:
    void peerClosed(TCPConnection* connection) override { seen.push_back(sourcePeerPool()->peerOf(connection)); }
    std::vector<SourcePeer*> seen;
};

class ClientSourcePoolTest : public PeerWorld {
protected:
    void SetUp() override {
        PeerWorld::SetUp();
        installSourcePeerPool();
    }
    void TearDown() override {
        uninstallSourcePeerPool();
        clientPool()->setDialer(nullptr);
        PeerWorld::TearDown();
    }
};

TEST_F(ClientSourcePoolTest, FacesOfThePoolsPeers) {
    SourcePeerPool* faces = sourcePeerPool();
    ASSERT_NE(faces, nullptr);
    auto* peer = new Peer(ipFromText("203.0.113.5"), 4662, false);
    peer->user()->setNickname("p");
    SourcePeer* face = peer->sourceFace();
    EXPECT_EQ(faces->peerOf(peer), nullptr) << "not listed yet";
    clientPool()->addPeer(peer);
    EXPECT_EQ(faces->peerOf(peer), face);
    EXPECT_EQ(faces->findByUser(peer->user()), face);
    EXPECT_TRUE(faces->contains(face));
    EXPECT_EQ(face->tcpConnection(), peer);
    EXPECT_EQ(face->user(), peer->user());
    face->addRef("test");
    EXPECT_EQ(peer->useCount(), 1);
    face->setKeep(true);
    EXPECT_TRUE(peer->keep());

    // Connects answer in faces.
    SourcePeer* out = nullptr;
    EXPECT_EQ(faces->connect(peer->user(), &out), SourcePeerPool::kConnected);
    EXPECT_EQ(out, face);
    FakeDialer dialer;
    clientPool()->setDialer(&dialer);
    UserMeta other = makeUser("o", ipFromText("203.0.113.6"), 4662, 9);
    out = face;
    EXPECT_EQ(faces->connect(&other, &out), SourcePeerPool::kConnecting);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(faces->connectionCount(), coreThread()->connectionCount());

    // Handlers told of the close still meet the connection as a peer.
    FaceLookup lookup;
    clientPool()->addHandler(&lookup);
    delete peer;
    EXPECT_EQ(lookup.seen, std::vector<SourcePeer*>{face});
    EXPECT_FALSE(faces->contains(face));
    EXPECT_EQ(faces->findByUser(&other), nullptr);
    EXPECT_EQ(faces->peerOf(nullptr), nullptr);
}

}  // namespace
}  // namespace transfertest
