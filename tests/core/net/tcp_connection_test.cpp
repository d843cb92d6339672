// TCP frames, connections and doors on loopback sockets, and the frame
// writer and reader on scripted sockets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "core/net/budgets.h"
#include "core/net/tcp_door.h"
#include "core/net/tcp_packet.h"
#include "core/net/tcp_read_packet.h"
#include "support/bytes.h"
#include "tcp_test_fixture.h"

using namespace coretest;
using namespace support;

namespace {

using TcpFrames = LoopbackConnectionTest;

TEST_F(TcpFrames, FramesArriveInAnyPieces) {
    const std::string message = tcp_frame(0x42, "hello, frame");
    const std::vector<std::vector<size_t>> splits = {
        {message.size()},  // whole
        {2, 3, 4, 4, message.size() - 13},  // header 2 + 3, body in steps
        std::vector<size_t>(message.size(), 1),  // one byte at a time
    };
    log_.forwardFirst = false;
    int expected = 0;
    for (const auto& pieces : splits) {
        size_t offset = 0;
        for (size_t piece : pieces) {
            raw_write(client_, message.substr(offset, piece));
            offset += piece;
            serve();
        }
        expected++;
        ASSERT_TRUE(serveUntil([&] { return static_cast<int>(log_.events.size()) == expected; }));
    }
    EXPECT_EQ(log_.events[0], "first:66:hello, frame");
    EXPECT_EQ(log_.events[1], "msg:66:hello, frame");
    EXPECT_EQ(log_.events[2], "msg:66:hello, frame");
    EXPECT_FALSE(log_.destroyed);
    EXPECT_EQ(pool_->count(), 1);
}

TEST_F(TcpFrames, FirstMessageIsSeparateEvenWhenForwarded) {
    raw_write(client_, tcp_frame(1, "a") + tcp_frame(2, "bc") + tcp_frame(3, ""));
    ASSERT_TRUE(serveUntil([&] { return log_.events.size() == 4; }));
    EXPECT_EQ(log_.events, (std::vector<std::string>{"first:1", "msg:1:a", "msg:2:bc", "msg:3:"}));
}

TEST_F(TcpFrames, BadHeadersDropTheConnection) {
    const std::string cases[] = {
        std::string("\xE4", 1) + as_text(le32(0xFFFFFFFF)) + "x",    // wrong marker: length never used
        std::string("\xE3", 1) + as_text(le32(0)),                    // no opcode
        std::string("\xE3", 1) + as_text(le32(kMaxFrameLength + 1)),  // beyond the cap
        std::string("\xE3", 1) + as_text(le32(0xFFFFFFFF)),
    };
    for (const std::string& header : cases) {
        openConnection();
        raw_write(client_, header);
        ASSERT_TRUE(serveUntil([&] { return log_.destroyed; })) << header.size();
        bool closed = false;
        raw_read(client_, 1000, &closed);
        EXPECT_TRUE(closed);
        EXPECT_TRUE(log_.events.empty());
        EXPECT_EQ(pool_->count(), 0);
    }
}

TEST_F(TcpFrames, LargestLengthIsAcceptedAndFilledAsBytesArrive) {
    raw_write(client_, std::string("\xE3", 1) + as_text(le32(kMaxFrameLength)) + "\x07" + std::string(1000, 'z'));
    for (int i = 0; i < 3; i++) serve();
    EXPECT_FALSE(log_.destroyed);
    EXPECT_TRUE(log_.events.empty());
}

TEST_F(TcpFrames, HandlerEndsTheConnection) {
    struct Case {
        bool keep;
        int readPast;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {false, 0, {"first:9", "msg:9:ab"}},  // the handler refuses
        {true, 1, {"first:9"}},               // it reads past the frame: i4_err
    };
    for (const Case& c : cases) {
        openConnection();
        log_.keep = c.keep;
        log_.readPast = c.readPast;
        raw_write(client_, tcp_frame(9, "ab") + tcp_frame(10, "never"));
        ASSERT_TRUE(serveUntil([&] { return log_.destroyed; }));
        EXPECT_EQ(log_.events, c.events);
    }
}

TEST_F(TcpFrames, PeerClosingDropsTheConnection) {
    ::close(client_);
    client_ = -1;
    EXPECT_TRUE(serveUntil([&] { return log_.destroyed; }));
}

TEST_F(TcpFrames, CloseAfterFlushSendsWhatCameBefore) {
    auto first = new TCPPacket(3, 0xE3);
    first->buffer()->write_8(5);
    first->buffer()->write_16(0x0201);
    auto second = new TCPPacket(1, 0xE3);
    second->buffer()->write_8(6);
    connection_->queue(first);
    connection_->queue(second);
    connection_->closeAfterFlush();
    ASSERT_TRUE(serveUntil([&] { return log_.destroyed; }));
    std::string got;
    bool closed = false;
    for (int i = 0; i < 10 && !closed; i++) got += raw_read(client_, 1000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(got, tcp_frame(5, "\x01\x02") + tcp_frame(6, ""));
}

TEST_F(TcpFrames, WriteBudgetOfZeroKeepsThePacketQueued) {
    bandwidth_.up = 1e-9;  // far below a byte per service
    auto packet = new TCPPacket(1, 0xE3);
    packet->buffer()->write_8(8);
    connection_->queue(packet);
    for (int i = 0; i < 3; i++) serve();
    EXPECT_EQ(connection_->queuedPackets(), 1);
    EXPECT_EQ(raw_read(client_, 20, nullptr), "");
    bandwidth_.up = 0;  // no limit
    ASSERT_TRUE(serveUntil([&] { return connection_->queuedPackets() == 0; }));
    EXPECT_EQ(raw_read(client_, 1000, nullptr), tcp_frame(8, ""));
}

TEST(TcpConnectionQueue, ALongSendQueueIsFreedWithTheConnection) {
    // Every queued packet goes with the connection (the leak check sees
    // one left behind), in one pass over the list: counting it for each
    // removal made a queue this long take minutes.
    ConnectionLog log;
    auto connection = std::make_unique<RecordingConnection>(0x7F000001u, 1, &log);
    constexpr int kPackets = 100000;
    for (int i = 0; i < kPackets; i++) connection->queue(new TCPPacket(1, 0xE3));
    EXPECT_EQ(connection->queuedPackets(), kPackets);
    connection.reset();
    EXPECT_TRUE(log.destroyed);
}

TEST_F(TcpFrames, ReadBudgetPacesTheBody) {
    bandwidth_.down = 0.5;  // 5 bytes per 10 ms tick
    std::string message = tcp_frame(4, std::string(40, 'q'));
    raw_write(client_, message);
    serve();
    serve();
    EXPECT_TRUE(log_.events.empty());
    ASSERT_TRUE(serveUntil([&] { return log_.events.size() == 2; }));
}

// A door that hands accepted sockets to recording connections.
class TestDoor : public TCPDoor {
public:
    TestDoor(ConnectionLog* log) : TCPDoor(0), log_(log) {}
    bool acceptAllowed() override { return allowed; }
    Connection* makeConnection(i4_socket* socket) override { return new RecordingConnection(socket, log_); }
    bool allowed = true;

private:
    ConnectionLog* log_;
};

TEST_F(TcpFrames, DoorAcceptsOrTurnsAway) {
    ConnectionLog accepted;
    auto door = new TestDoor(&accepted);
    ASSERT_TRUE(door->listen(0));
    EXPECT_FALSE(door->listen(0));  // listening already
    int port = local_port(door->socket());
    pool_->add(door);
    pool_->applyPending();

    int client = raw_connect(port);
    ASSERT_TRUE(serveUntil([&] { return pool_->count() == 3; }));
    raw_write(client, tcp_frame(77, "in"));
    ASSERT_TRUE(serveUntil([&] { return accepted.events.size() == 2; }));
    EXPECT_EQ(accepted.events[1], "msg:77:in");
    ::close(client);
    // Gone: nobody waits in the door's lobby to make room.
    ASSERT_TRUE(serveUntil([&] { return pool_->count() == 2; }));

    door->allowed = false;
    int refused = raw_connect(port);
    bool closed = false;
    for (int i = 0; i < 20 && !closed; i++) {
        serve();
        raw_read(refused, 10, &closed);
    }
    EXPECT_TRUE(closed);
    ::close(refused);
    OwnedString status;
    EXPECT_STREQ(door->status(status), "TCPDoor");
}

TEST(TcpPacket, SendsOnlyTheWrittenFrameWithinTheBudget) {
    budgets_reset();
    TCPPacket packet(100, 0xE3);  // announced 100, only 3 written
    packet.buffer()->write_8(0x11);
    packet.buffer()->write_16(0x3322);
    FakeSocket socket;
    socket.writeLimit = 3;
    setWriteBudget(5);
    int sent = 0;
    EXPECT_EQ(packet.send(&socket, &sent), Packet::kPartial);
    EXPECT_EQ(sent, 3);
    EXPECT_EQ(writeBudget(), 2);
    EXPECT_EQ(packet.send(&socket, &sent), Packet::kPartial);  // cut to the budget of 2
    EXPECT_EQ(sent, 2);
    EXPECT_EQ(packet.send(&socket, &sent), Packet::kPartial);  // budget spent
    EXPECT_EQ(sent, 0);
    budgets_reset();
    EXPECT_EQ(packet.send(&socket, &sent), Packet::kComplete);
    EXPECT_EQ(socket.written, tcp_frame(0x11, "\x22\x33"));

    std::unique_ptr<Packet> copy(packet.clone());
    FakeSocket other;
    EXPECT_EQ(copy->send(&other, &sent), Packet::kComplete);
    EXPECT_EQ(other.written, socket.written);

    FakeSocket broken;
    broken.writeResult = -1;
    TCPPacket failing(1, 0xE3);
    EXPECT_EQ(failing.send(&broken, &sent), Packet::kFailed);
    EXPECT_EQ(sent, 0);
}

TEST(TcpReadPacket, ChargesTheBodyToTheReadBudget) {
    budgets_reset();
    FakeSocket socket;
    socket.reads = {tcp_frame(3, "0123456789")};
    TCPReadPacket reader(0xE3);
    setReadBudget(4);
    int got = 0;
    EXPECT_EQ(reader.read(&socket, &got), Packet::kPartial);
    EXPECT_EQ(got, 5 + 4);  // the header is free, the body is budgeted
    EXPECT_EQ(readBudget(), 0);
    EXPECT_EQ(reader.read(&socket, &got), Packet::kPartial);
    EXPECT_EQ(got, 0);
    setReadBudget(100);
    EXPECT_EQ(reader.read(&socket, &got), Packet::kComplete);
    EXPECT_EQ(got, 7);
    EXPECT_EQ(reader.bodyLength(), 11u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reader.body()), 11), "\x03" "0123456789");
    reader.reset();
    EXPECT_EQ(reader.headerGot(), 0);
    budgets_reset();
}

TEST(TcpReadPacket, RuleRefusesALongFrameOrAnotherOpcodeBeforeTheBody) {
    budgets_reset();
    struct Case {
        std::string bytes;
        int result;
        size_t leftUnread;  // bytes the reader never took from the socket
    };
    const std::string body(40, 'b');
    const Case cases[] = {
        {tcp_frame(100, body), Packet::kComplete, 0},                    // within the rule
        {tcp_frame(100, body + "!"), Packet::kFailed, 42},               // one byte too long: header only
        {tcp_frame(225, body), Packet::kFailed, 40},                     // another opcode: nothing past it
        {tcp_frame(100, ""), Packet::kComplete, 0},                      // the opcode alone
    };
    for (const Case& c : cases) {
        FakeSocket socket;
        socket.reads = {c.bytes};
        TCPReadPacket reader(0xE3);
        reader.setRule(41, 100);
        int got = 0;
        int result = Packet::kPartial;
        for (int i = 0; i < 10 && result == Packet::kPartial; i++) result = reader.read(&socket, &got);
        EXPECT_EQ(result, c.result) << c.bytes.size();
        size_t left = socket.reads.empty() ? 0 : socket.reads.front().size();
        EXPECT_EQ(left, c.leftUnread) << c.bytes.size();
    }
    // The rule outlives reset; kAnyOpcode lifts the opcode check.
    FakeSocket socket;
    socket.reads = {tcp_frame(7, "x")};
    TCPReadPacket reader(0xE3);
    reader.setRule(41, 100);
    reader.reset();
    int got = 0;
    EXPECT_EQ(reader.read(&socket, &got), Packet::kFailed);
    socket.reads = {tcp_frame(7, "x")};
    reader.reset();
    reader.setRule(41, TCPReadPacket::kAnyOpcode);
    EXPECT_EQ(reader.read(&socket, &got), Packet::kComplete);
}

}  // namespace
