// The reply server on the manual clock: time-outs, expiry with a miss,
// late answers, more time, the reader position across listeners, and
// listeners that go away while the server walks its entries.
#include <gtest/gtest.h>

#include <functional>

#include "core/net/udp_packet.h"
#include "overlay/routing/contact_list.h"
#include "overlay/requests/flock_reply_server.h"
#include "overlay/opcodes.h"
#include "overlay/requests/reply_listener.h"
#include "overlay/overlay_fixture.h"
#include "v4ada/file/ram_file.h"

using namespace overlaytest;

namespace {

class TestListener final : public ReplyListener {
public:
    explicit TestListener(FlockReplyServer* server) : server_(server) {}
    ~TestListener() { server_->cancelListener(this); }

    int gotReply(Node*, int opcode, i4_ram_file_class* reader) override {
        positions.push_back(reader->tell());
        opcodes.push_back(opcode);
        for (int i = 0; i < readAhead && reader->remaining() > 0; i++) reader->read_8();
        int answer = result;  // the callback may delete this listener
        if (onReply) onReply();
        return answer;
    }
    void timedOut(Node*) override {
        timeouts++;
        if (onTimeout) onTimeout();
    }

    int result = 1;
    int readAhead = 0;
    int timeouts = 0;
    std::vector<i4_pos> positions;
    std::vector<int> opcodes;
    std::function<void()> onReply;
    std::function<void()> onTimeout;

private:
    FlockReplyServer* server_;
};

class ReplyServerTest : public GatewayTest {
protected:
    void SetUp() override {
        startGateway();
        server_ = gateway_->replyServer();
        node_ = makeNode(idOf({0x42}), "10.0.0.9", 4672);
        gateway_->contacts()->add(&node_);
        peer_ = peer("10.0.0.9", 4672);
    }

    void request(ReplyListener* listener, int timeoutMs, const Node& to) {
        UDPPacket* packet = gateway_->newPacket(to.ip, to.port, INODE_HELLO, kHelloSize);
        gateway_->ownNode().write(packet->buffer());
        server_->sendRequest(packet, timeoutMs, &to, listener);
        sim_.settle();
    }
    void answer(const std::string& payload = "", uint8_t opcode = INODE_HELLOREPLY) {
        sendFrom(peer_, datagram(opcode, payload));
    }
    int misses() {
        Node* contact = gateway_->contacts()->root()->leaf(node_.id)->contacts.findById(node_.id);
        return contact != nullptr ? contact->misses : -1;
    }

    FlockReplyServer* server_ = nullptr;
    Node node_;
    support::DatagramPeer* peer_ = nullptr;
};

TEST_F(ReplyServerTest, TimeOutThenExpiryWithOneMiss) {
    TestListener listener(server_);
    request(&listener, kHelloTimeoutMs, node_);
    EXPECT_EQ(peer_->receivedWith(INODE_HELLO).size(), 1u);
    sim_.advance(15000);
    EXPECT_EQ(listener.timeouts, 0);
    sim_.advance(1);
    EXPECT_EQ(listener.timeouts, 1);
    sim_.advance(60000 - 15001);
    EXPECT_EQ(server_->pendingCount(), 1);
    EXPECT_EQ(misses(), 0);
    sim_.advance(1);
    EXPECT_EQ(server_->pendingCount(), 0);
    EXPECT_EQ(misses(), 1);
    EXPECT_EQ(listener.timeouts, 1);
}

TEST_F(ReplyServerTest, LateAnswerRemovesTheEntryWithoutMiss) {
    TestListener listener(server_);
    request(&listener, kHelloTimeoutMs, node_);
    sim_.advance(35000);
    EXPECT_EQ(listener.timeouts, 1);
    answer();
    EXPECT_TRUE(listener.opcodes.empty()) << "the listener gave up already";
    EXPECT_EQ(server_->pendingCount(), 0);
    sim_.advance(30000);
    EXPECT_EQ(misses(), 0);
}

TEST_F(ReplyServerTest, AnswerTwoGivesMoreTime) {
    TestListener listener(server_);
    listener.result = 2;
    request(&listener, kSearchTimeoutMs, node_);
    sim_.advance(29000);
    answer("x", INODE_SEARCHRESULT);
    ASSERT_EQ(listener.opcodes.size(), 1u);
    sim_.advance(20000);
    EXPECT_EQ(listener.timeouts, 0) << "time-out moved to 20000 ms after the answer";
    sim_.advance(1);
    EXPECT_EQ(listener.timeouts, 1);
    sim_.advance(60000 - 20001);
    EXPECT_EQ(server_->pendingCount(), 1) << "expiry moved back to 60000 ms";
    sim_.advance(1);
    EXPECT_EQ(server_->pendingCount(), 0);
    EXPECT_EQ(misses(), 1);
}

TEST_F(ReplyServerTest, SecondListenerGetsTheSameReaderPosition) {
    TestListener first(server_), second(server_);
    first.result = 0;
    first.readAhead = 5;
    request(&first, kHelloTimeoutMs, node_);
    request(&second, kHelloTimeoutMs, node_);
    answer("0123456789");
    ASSERT_EQ(first.positions.size(), 1u);
    ASSERT_EQ(second.positions.size(), 1u);
    EXPECT_EQ(second.positions[0], first.positions[0]);
    EXPECT_EQ(first.positions[0], 2u);
    EXPECT_EQ(server_->pendingCount(), 1) << "the first is still waiting";
}

TEST_F(ReplyServerTest, AnswerFromAnotherPortOrAddressIsIgnored) {
    TestListener listener(server_);
    request(&listener, kHelloTimeoutMs, node_);
    sendFrom(peer("10.0.0.9", 4673), datagram(INODE_HELLOREPLY));
    sendFrom(peer("10.0.0.8", 4672), datagram(INODE_HELLOREPLY));
    EXPECT_TRUE(listener.opcodes.empty());
    EXPECT_EQ(server_->pendingCount(), 1);
    answer();
    EXPECT_EQ(listener.opcodes.size(), 1u);
    EXPECT_EQ(server_->pendingCount(), 0);
}

TEST_F(ReplyServerTest, ListenersDeletedDuringHandleAndTick) {
    Node other = makeNode(idOf({0x43}), "10.0.0.10", 4672);
    // handle: the first listener deletes itself and the third one, and
    // asks again; the walk goes on safely.
    auto a = new TestListener(server_);
    auto b = new TestListener(server_);
    auto c = new TestListener(server_);
    TestListener later(server_);
    a->result = 0;
    a->onReply = [&] {
        delete c;
        request(&later, kHelloTimeoutMs, other);
        delete a;
    };
    request(a, kHelloTimeoutMs, node_);
    request(c, kHelloTimeoutMs, node_);
    b->result = 2;
    request(b, kHelloTimeoutMs, node_);
    b->onReply = [&] { delete b; };
    answer();
    // a's entry stays cleared, c's cleared entry went as a late answer,
    // b's went with its answer, later's was added.
    EXPECT_EQ(server_->pendingCount(), 2);

    // tick: timed-out listeners delete themselves and each other.
    auto d = new TestListener(server_);
    auto e = new TestListener(server_);
    d->onTimeout = [&] {
        delete e;
        delete d;
    };
    e->onTimeout = [&] { ADD_FAILURE() << "deleted before its time-out"; };
    request(d, 1000, node_);
    request(e, 1000, node_);
    sim_.advance(1100);
    sim_.advance(60000);
    EXPECT_EQ(server_->pendingCount(), 0);
}

}  // namespace
