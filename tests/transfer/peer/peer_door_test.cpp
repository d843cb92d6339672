// The peer door on the loopback: connections that stay silent time out
// and make room for newcomers; peers whose hello is done are never pushed
// out. Every client connects from 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer_door.h"
#include "transfer/peer/peer_world_fixture.h"
#include "support/loopback.h"

namespace transfertest {
namespace {

class PeerDoorTest : public PeerWorld {
protected:
    void openDoor(int maxCon) {
        coreOptions()->setMaxConnections(maxCon);
        door_ = new PeerDoor(0);
        ASSERT_TRUE(door_->listen(0));
        port_ = support::local_port(door_->socket());
        core_->socketPool()->add(door_);
        step();
    }
    // A client that connects and says nothing.
    std::unique_ptr<FrameClient> silent() {
        auto client = std::make_unique<FrameClient>(support::raw_connect(port_));
        step();
        step();
        return client;
    }
    // A client whose hello is done (as user n).
    std::unique_ptr<FrameClient> greeted(int n) {
        auto client = std::make_unique<FrameClient>(support::raw_connect(port_));
        UserMeta user = makeUser(("peer" + std::to_string(n)).c_str(), 0, static_cast<uint16_t>(41000 + n),
                                 static_cast<uint8_t>(n + 1));
        client->send(ICLT_HELLO, helloPayload(user, 0, 0, true, true));
        const int listed = clientPool()->peerCount();
        EXPECT_TRUE(stepUntil([&] { return clientPool()->peerCount() == listed + 1; }));
        EXPECT_TRUE(awaitFrames(*client, 1));
        return client;
    }
    // Steps a while, then which clients saw their connection closed.
    std::vector<int> closedOnes(std::vector<std::unique_ptr<FrameClient>>& clients) {
        for (int i = 0; i < 5; i++) step();
        std::vector<int> closed;
        for (size_t i = 0; i < clients.size(); i++) {
            clients[i]->poll(support::kReplyWaitMs);
            if (clients[i]->closed) closed.push_back(static_cast<int>(i));
        }
        return closed;
    }

    PeerDoor* door_ = nullptr;
    int port_ = 0;
};

struct DoorRow {
    const char* what;
    int maxCon;
    int greeted;
    int silent;
    bool atLimit;             // the pool then holds exactly the door's limit
    int waitMs;               // the clock moves this far before the newcomer
    bool newcomer;
    std::vector<int> closed;  // of the silent ones, oldest first
    bool newcomerClosed;
};

const DoorRow kDoorRows[] = {
    {"silent ones time out at 10 s", 45, 2, 3, false, 10100, false, {0, 1, 2}, false},
    {"at the limit a newcomer displaces the oldest silent one", 3, 2, 3, true, 0, true, {0}, false},
    {"at the limit with every peer greeted the newcomer is refused", 3, 5, 0, true, 0, true, {}, true},
    {"one address holds 8 silent ones at most", 45, 1, 8, false, 0, true, {0}, false},
};

class PeerDoorRows : public PeerDoorTest, public ::testing::WithParamInterface<DoorRow> {};

TEST_P(PeerDoorRows, SilentConnectionsTimeOutOrMakeRoomGreetedPeersStay) {
    const DoorRow& row = GetParam();
    SCOPED_TRACE(row.what);
    openDoor(row.maxCon);
    std::vector<std::unique_ptr<FrameClient>> greetedOnes;
    for (int i = 0; i < row.greeted; i++) greetedOnes.push_back(greeted(i));
    std::vector<std::unique_ptr<FrameClient>> silentOnes;
    for (int i = 0; i < row.silent; i++) silentOnes.push_back(silent());
    EXPECT_EQ(door_->lobby().waiting(), row.silent);
    if (row.atLimit) {
        ASSERT_EQ(core_->connectionCount(), PeerDoor::acceptLimit(row.maxCon));
    }
    if (row.waitMs > 0) {
        // Short of the limit nobody goes.
        step(row.waitMs - 1000);
        EXPECT_TRUE(closedOnes(silentOnes).empty());
        step(1000);
    }
    std::unique_ptr<FrameClient> newcomer;
    if (row.newcomer) newcomer = silent();
    EXPECT_EQ(closedOnes(silentOnes), row.closed);
    EXPECT_TRUE(closedOnes(greetedOnes).empty());
    EXPECT_EQ(clientPool()->peerCount(), row.greeted);
    if (newcomer) {
        newcomer->poll(support::kReplyWaitMs);
        EXPECT_EQ(newcomer->closed, row.newcomerClosed);
    }
}

INSTANTIATE_TEST_SUITE_P(Door, PeerDoorRows, ::testing::ValuesIn(kDoorRows));

}  // namespace
}  // namespace transfertest
