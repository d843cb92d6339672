// Which newcomers a door lets in and which waiting connections make room
// for them, over a fake listening socket that hands out sockets from
// several addresses.
#include <gtest/gtest.h>

#include <climits>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "core/net/socket_pool.h"
#include "core/net/tcp_connection.h"
#include "core/net/tcp_door.h"
#include "core/net/tcp_frame.h"
#include "support/fake_net.h"
#include "v4ada/net/ready_flags.h"

using namespace support;

namespace {

// Waits in the lobby until the test admits it.
class WaitingConnection : public TCPConnection {
public:
    explicit WaitingConnection(i4_socket* socket) : TCPConnection(socket, kFrameMarker) {}
    bool doTask() override { return false; }
    void admit() { lobbySeat().leave(); }
};

class TestDoor : public TCPDoor {
public:
    TestDoor() : TCPDoor(4662) {}
    // Room while the pool (this door included) holds fewer than poolRoom.
    bool acceptAllowed() override { return pool()->count() < poolRoom; }
    int waitingLimit() override { return limit; }
    Connection* makeConnection(i4_socket* socket) override {
        auto connection = new WaitingConnection(socket);
        made.push_back(connection);
        return connection;
    }
    int poolRoom = INT_MAX;
    int limit = INT_MAX;
    std::vector<WaitingConnection*> made;
};

class TcpDoorTest : public ::testing::Test {
protected:
    TcpDoorTest() : protocol_(std::make_shared<FakeProtocol>()), scope_(protocol_) {
        pool_ = std::make_unique<STSocketPool>(&bandwidth_);
        listener_ = new FakeSocket();
        listener_->ready = kReadable;
        protocol_->onListen = [this](int, int) { return listener_; };
        door_ = new TestDoor();
        EXPECT_TRUE(door_->listen(0));
        pool_->add(door_);
        pool_->applyPending();
    }

    // Queues a connection from the address (a letter names it); the door
    // takes it at the next service. Returns its number.
    int arrive(char address) {
        auto socket = new FakeSocket();
        socket->peerIp = 0xC0000200u + static_cast<uint32_t>(address);
        socket->destroyed = &gone_.emplace_back(false);
        listener_->acceptable.push_back(socket);
        return static_cast<int>(gone_.size()) - 1;
    }
    std::vector<int> goneOnes() const {
        std::vector<int> out;
        for (size_t i = 0; i < gone_.size(); i++)
            if (gone_[i]) out.push_back(static_cast<int>(i));
        return out;
    }

    std::shared_ptr<FakeProtocol> protocol_;
    ProtocolScope scope_;
    FakeBandwidth bandwidth_;
    std::deque<bool> gone_;  // per arrival: its socket was deleted (outlives the pool)
    std::unique_ptr<STSocketPool> pool_;
    FakeSocket* listener_;
    TestDoor* door_;
};

TEST_F(TcpDoorTest, NewcomersDisplaceTheOldestWaitingNeverTheAdmitted) {
    struct Row {
        const char* what;
        int poolRoom;
        int limit;
        std::string arrivals;       // one address letter per connection
        std::vector<int> admitted;  // admitted right after they arrive
        std::vector<int> gone;
    };
    const Row rows[] = {
        {"one address waits with 8 at most", INT_MAX, INT_MAX, "AAAAAAAABA", {}, {0}},
        {"the per-address cap spares the admitted", INT_MAX, INT_MAX, "AAAAAAAAAAA", {0, 1}, {2}},
        {"the waiting cap displaces the oldest of any address", INT_MAX, 3, "ABCD", {}, {0}},
        {"at the door's limit the oldest waiting goes, one per newcomer", 4, INT_MAX, "ABCDE", {}, {0, 1}},
        {"the admitted stay; the oldest still waiting goes", 4, INT_MAX, "ABCD", {0, 2}, {1}},
        {"a newcomer is refused when every held one is admitted", 4, INT_MAX, "ABCD", {0, 1, 2}, {3}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        // A fresh door and pool per row.
        pool_ = std::make_unique<STSocketPool>(&bandwidth_);
        listener_ = new FakeSocket();
        listener_->ready = kReadable;
        door_ = new TestDoor();
        ASSERT_TRUE(door_->listen(0));
        pool_->add(door_);
        pool_->applyPending();
        gone_.clear();
        door_->poolRoom = row.poolRoom;
        door_->limit = row.limit;
        for (size_t i = 0; i < row.arrivals.size(); i++) {
            arrive(row.arrivals[i]);
            pool_->tick(10);
            for (int admitted : row.admitted)
                if (admitted == static_cast<int>(i)) door_->made[i]->admit();
        }
        EXPECT_EQ(goneOnes(), row.gone);
        // Everything not gone is in the pool (the door too).
        EXPECT_EQ(pool_->count(), 1 + static_cast<int>(row.arrivals.size() - row.gone.size()));
        EXPECT_EQ(door_->lobby().waiting(),
                  static_cast<int>(row.arrivals.size() - row.gone.size() - row.admitted.size()));
    }
}

TEST_F(TcpDoorTest, BurstIsAcceptedSeveralPerServiceAndLobbyOutlivesTheDoor) {
    const int burst = 3 * TCPDoor::kMaxAcceptsPerService;
    for (int i = 0; i < burst; i++) arrive('A');
    pool_->tick(10);
    EXPECT_EQ(static_cast<int>(listener_->acceptable.size()), burst - TCPDoor::kMaxAcceptsPerService);
    EXPECT_EQ(door_->lobby().waiting(), TCPDoor::kMaxAcceptsPerService);
    while (!listener_->acceptable.empty()) pool_->tick(10);
    // Kept to the per-address cap, the newest staying.
    EXPECT_EQ(door_->lobby().waiting(), DoorLobby::kMaxWaitingPerAddress);
    EXPECT_EQ(pool_->count(), 1 + DoorLobby::kMaxWaitingPerAddress);
    EXPECT_EQ(static_cast<int>(goneOnes().size()), burst - DoorLobby::kMaxWaitingPerAddress);
    EXPECT_EQ(goneOnes().back(), burst - DoorLobby::kMaxWaitingPerAddress - 1);

    // The door goes first; its waiting connections leave the lobby later.
    door_->made.back()->admit();
    pool_->remove(door_);
    pool_->tick(10);
    EXPECT_EQ(pool_->count(), DoorLobby::kMaxWaitingPerAddress);
    pool_.reset();
    EXPECT_EQ(goneOnes().size(), gone_.size());
}

}  // namespace
