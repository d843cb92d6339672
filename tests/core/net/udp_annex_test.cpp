// The datagram endpoint on loopback sockets: marker filter, datagram views,
// budgets, pacing of sends and socket errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/net/ip_text.h"
#include "core/net/socket_pool.h"
#include "core/net/udp_annex.h"
#include "core/net/udp_packet.h"
#include "support/fake_net.h"
#include "support/loopback.h"
#include "support/ui_capture.h"
#include "support/bytes.h"
#include "v4ada/error/error.h"
#include "v4ada/net/address.h"
#include "v4ada/net/ready_flags.h"

using namespace support;

namespace {

class RecordingHandler : public UDPMessageHandler {
public:
    bool handle(uint8_t opcode, UDPAnnex*, i4_ram_file_class* datagram, const i4_address* sender) override {
        std::string payload;
        while (datagram->remaining() > 0) payload.push_back(static_cast<char>(datagram->read_8()));
        for (int i = 0; i < readPast; i++) datagram->read_8();
        OwnedString from;
        senders.push_back(addressToText(sender, from));
        got.push_back(std::to_string(opcode) + ":" + payload);
        return true;
    }
    std::vector<std::string> got;
    std::vector<std::string> senders;
    int readPast = 0;
};

class UdpAnnexTest : public ::testing::Test {
protected:
    UdpAnnexTest() : protocol_(loopback_protocol()), scope_(protocol_) {
        pool_ = new STSocketPool(&bandwidth_);
        annex_ = new UDPDynamicAnnex(0, 2000, 0xE3);
        for (int opcode = 0; opcode < 256; opcode++) annex_->setHandler(&handler_, static_cast<uint8_t>(opcode));
        annex_->setHandler(&pastEnd_, 7);
        pastEnd_.readPast = 1;
        port_ = local_port(annex_->socket());
        pool_->add(annex_);
        pool_->applyPending();
        peer_ = raw_udp(&peerPort_);
    }
    ~UdpAnnexTest() override {
        delete pool_;
        ::close(peer_);
    }

    void send(const std::string& datagram) { raw_send_to(peer_, port_, datagram); }
    UDPPacket* packetTo(int port, const std::string& body) {
        uint8_t ip[4] = {127, 0, 0, 1};
        i4_tcpip_address address(ip, port);
        auto packet = new UDPPacket(static_cast<int>(body.size()) + 8, &address, 0xE3);
        packet->buffer()->write(body.data(), static_cast<int>(body.size()));
        return packet;
    }

    std::shared_ptr<i4_tcpip_protocol> protocol_;
    ProtocolScope scope_;
    FakeBandwidth bandwidth_;
    STSocketPool* pool_;
    UDPDynamicAnnex* annex_;
    RecordingHandler handler_;
    RecordingHandler pastEnd_;
    int port_ = 0;
    int peer_ = -1;
    int peerPort_ = 0;
};

TEST_F(UdpAnnexTest, OnlyMarkedDatagramsAreDispatchedAllInOneService) {
    send("\xE4\x01" "a");
    send("\xE3\x02" "bb");
    send("\xE3\x03");
    pool_->tick(10);
    EXPECT_EQ(handler_.got, (std::vector<std::string>{"2:bb", "3:"}));
    EXPECT_EQ(handler_.senders[0], "127.0.0.1");
    EXPECT_EQ(annex_->lastSender(), nullptr);
}

TEST_F(UdpAnnexTest, HandlersSeeOnlyTheirDatagram) {
    send("\xE3\x05" + std::string(100, 'A'));
    send("\xE3\x06" "B");
    send("\xE3\x07" "C");  // its handler reads past the end: only it fails
    send("\xE3\x08" "D");
    send("\xE3");          // no opcode
    send("\xE3\x09");
    pool_->tick(10);
    EXPECT_EQ(handler_.got, (std::vector<std::string>{"5:" + std::string(100, 'A'), "6:B", "8:D", "9:"}));
    EXPECT_TRUE(pastEnd_.got.empty());
}

TEST_F(UdpAnnexTest, DatagramsLongerThanTheBufferAreDropped) {
    send("\xE3\x0A" + std::string(UDPAnnex::kReceiveBufferSize - 2, 'x'));  // exactly 3072
    send("\xE3\x0B" + std::string(UDPAnnex::kReceiveBufferSize, 'y'));      // cut by the kernel
    send("\xE3\x0C");
    pool_->tick(10);
    ASSERT_EQ(handler_.got.size(), 2u);
    EXPECT_EQ(handler_.got[0].size(), 3u + UDPAnnex::kReceiveBufferSize - 2);
    EXPECT_EQ(handler_.got[1], "12:");
}

TEST_F(UdpAnnexTest, ReadBudgetOfZeroReceivesNothing) {
    bandwidth_.down = 1e-9;
    send("\xE3\x01" "x");
    pool_->tick(10);
    EXPECT_TRUE(handler_.got.empty());
    bandwidth_.down = 0;
    pool_->tick(10);
    EXPECT_EQ(handler_.got, (std::vector<std::string>{"1:x"}));
}

TEST_F(UdpAnnexTest, QueuedPacketsGoOutTogetherInQueueOrderWithinTheBudget) {
    for (char c : std::string("123")) annex_->send(packetTo(peerPort_, std::string(1, c) + "z"));
    pool_->tick(10);
    EXPECT_EQ(annex_->queuedPackets(), 0);
    for (char c : std::string("123")) {
        // Only the written bytes travel, not the rest of the allocation.
        EXPECT_EQ(raw_read(peer_, 1000, nullptr), std::string("\xE3") + c + "z");
    }
    EXPECT_EQ(raw_read(peer_, 0, nullptr), "");

    // With the write budget spent, one datagram per service still goes.
    bandwidth_.up = 1e-9;
    for (char c : std::string("45")) annex_->send(packetTo(peerPort_, std::string(1, c)));
    pool_->tick(10);
    EXPECT_EQ(annex_->queuedPackets(), 1);
    EXPECT_EQ(raw_read(peer_, 1000, nullptr), "\xE3" "4");
    pool_->tick(10);
    EXPECT_EQ(annex_->queuedPackets(), 0);
    EXPECT_EQ(raw_read(peer_, 1000, nullptr), "\xE3" "5");
}

TEST_F(UdpAnnexTest, PacketWithoutDestinationIsDroppedInItsTurn) {
    annex_->send(new UDPPacket(4, static_cast<const i4_address*>(nullptr), 0xE3));
    annex_->send(packetTo(peerPort_, "\x01"));
    pool_->tick(10);
    EXPECT_EQ(annex_->queuedPackets(), 0);
    EXPECT_EQ(raw_read(peer_, 1000, nullptr), "\xE3\x01");
    EXPECT_EQ(raw_read(peer_, 0, nullptr), "");

    // Resolved from an IPv4 value through the protocol.
    uint8_t ip[4] = {127, 0, 0, 1};
    auto resolved = new UDPPacket(1, ipFromBytes(ip), peerPort_, 0xE3);
    resolved->buffer()->write_8(0x44);
    annex_->send(resolved);
    pool_->tick(10);
    EXPECT_EQ(raw_read(peer_, 1000, nullptr), "\xE3\x44");
}

TEST_F(UdpAnnexTest, ClosedPortErrorKeepsTheEndpointServing) {
    int closedPort = 0;
    int gone = raw_udp(&closedPort);
    ::close(gone);
    annex_->send(packetTo(closedPort, "\x01"));
    for (int i = 0; i < 5; i++) pool_->tick(10);  // the port-unreachable error comes back
    EXPECT_EQ(pool_->activeCount(), 1);
    send("\xE3\x02" "after");
    for (int i = 0; i < 5 && handler_.got.empty(); i++) pool_->tick(10);
    EXPECT_EQ(handler_.got, (std::vector<std::string>{"2:after"}));
}

TEST_F(UdpAnnexTest, StatusShowsTheRates) {
    OwnedString status;
    EXPECT_STREQ(annex_->status(status), "UDPAnnex (0.00,0.00)");
}

// Answers every datagram to its sender with a payload of answerBytes.
class AnsweringHandler : public UDPMessageHandler {
public:
    bool handle(uint8_t opcode, UDPAnnex* annex, i4_ram_file_class*, const i4_address* sender) override {
        auto answer = new UDPPacket(answerBytes, sender, 0xE3);
        answer->buffer()->write_8(static_cast<uint8_t>(opcode + 1));
        answer->buffer()->write(std::string(static_cast<size_t>(answerBytes - 1), 'a').data(), answerBytes - 1);
        annex->send(answer);
        handled++;
        return true;
    }
    int answerBytes = 100;
    int handled = 0;
};

// The endpoint over a fake socket that is readable and writable; the
// socket takes datagrams only while it has room.
class UdpAnnexFloodTest : public ::testing::Test {
protected:
    UdpAnnexFloodTest() : protocol_(std::make_shared<FakeProtocol>()), scope_(protocol_) {
        pool_ = new STSocketPool(&bandwidth_);
        socket_ = new FakeSocket();
        socket_->ready = kReadable | kWritable;
        socket_->datagramRoom = 0;  // full until the test makes room
        annex_ = new UDPDynamicAnnex(socket_, 0xE3);
        annex_->setHandler(&answering_, 12);
        pool_->add(annex_);
        pool_->applyPending();
    }
    ~UdpAnnexFloodTest() override { delete pool_; }

    // A datagram of the node's own, to a node that is not the flooder.
    UDPPacket* ownRequest(int bytes, char tag) {
        uint8_t ip[4] = {10, 0, 0, 9};
        i4_tcpip_address address(ip, 5000);
        auto packet = new UDPPacket(bytes, &address, 0xE3);
        packet->buffer()->write(std::string(static_cast<size_t>(bytes), tag).data(), bytes);
        return packet;
    }
    void flood(int datagrams) {
        for (int i = 0; i < datagrams; i++) socket_->datagrams.push_back("\xE3\x0C" "hello");
        while (!socket_->datagrams.empty()) pool_->tick(10);
    }

    std::shared_ptr<FakeProtocol> protocol_;
    ProtocolScope scope_;
    FakeBandwidth bandwidth_;
    STSocketPool* pool_;
    FakeSocket* socket_;
    UDPDynamicAnnex* annex_;
    AnsweringHandler answering_;
};

TEST_F(UdpAnnexFloodTest, AnswersToAFloodStayBoundedOwnRequestGoesOutAndQueueDrains) {
    flood(1000);
    annex_->send(ownRequest(20, 'R'));
    flood(1000);
    EXPECT_EQ(answering_.handled, 2000);
    EXPECT_LE(annex_->queuedAnswerBytes(), UDPAnnex::kMaxAnswerBytes);
    EXPECT_GT(annex_->queuedAnswerBytes(), UDPAnnex::kMaxAnswerBytes - 2 * (100 + UDPAnnex::kQueuedPacketCost));
    EXPECT_GT(annex_->droppedAnswers(), 1000u);
    EXPECT_EQ(annex_->droppedRequests(), 0u);
    EXPECT_TRUE(socket_->sentDatagrams.empty());
    EXPECT_TRUE(annex_->sendBlocked());

    // Room on the socket: everything goes within a few services, in the
    // order it was queued.
    const int queued = annex_->queuedPackets();
    socket_->datagramRoom = -1;
    const int services = queued / UDPAnnex::kMaxSendsPerService + 1;
    for (int i = 0; i < services; i++) pool_->tick(10);
    EXPECT_EQ(annex_->queuedPackets(), 0);
    EXPECT_EQ(annex_->queuedBytes(), 0);
    ASSERT_EQ(socket_->sentDatagrams.size(), static_cast<size_t>(queued));
    const auto own = std::find(socket_->sentDatagrams.begin(), socket_->sentDatagrams.end(),
                               "\xE3" + std::string(20, 'R'));
    ASSERT_NE(own, socket_->sentDatagrams.end());
    EXPECT_EQ(std::count_if(socket_->sentDatagrams.begin(), own,
                            [](const std::string& sent) { return sent[1] == '\x0D'; }),
              static_cast<long>(queued - 1));  // queued before the flood's second half, all answers
}

TEST_F(UdpAnnexFloodTest, OwnRequestsPushOutAnswersBeforeAnyRequestIsDropped) {
    flood(1000);
    ASSERT_GT(annex_->queuedAnswerBytes(), 0);
    // Requests that fill the queue exactly (the marker is one more byte).
    const int64_t fitting = 256;
    const int bytes = static_cast<int>(UDPAnnex::kMaxQueuedBytes / fitting - UDPAnnex::kQueuedPacketCost - 1);
    for (int64_t i = 0; i < fitting; i++) annex_->send(ownRequest(bytes, 'S'));
    EXPECT_EQ(annex_->droppedRequests(), 0u);
    EXPECT_EQ(annex_->queuedAnswerBytes(), 0);  // every answer made room
    EXPECT_EQ(annex_->queuedPackets(), static_cast<int>(fitting));
    annex_->send(ownRequest(1, 'T'));
    EXPECT_EQ(annex_->droppedRequests(), 1u);
    // An answer finds no room either.
    socket_->datagrams.push_back("\xE3\x0C" "late");
    const uint64_t dropped = annex_->droppedAnswers();
    pool_->tick(10);
    EXPECT_EQ(annex_->droppedAnswers(), dropped + 1);
    EXPECT_EQ(annex_->queuedBytes(), UDPAnnex::kMaxQueuedBytes);
}

TEST(UdpAnnexSetup, FailsWithoutProtocolOrSocket) {
    {
        ProtocolScope scope(nullptr);
        try {
            UDPDynamicAnnex annex(0, 2000, 0xE3);
            FAIL();
        } catch (i4_err& error) {
            EXPECT_STREQ(error.message(), "couldn't create UDPAnnex: prot null");
        }
    }
    ProtocolScope scope(std::make_shared<FakeProtocol>());  // listens on nothing
    try {
        UDPDynamicAnnex annex(0, 2000, 0xE3);
        FAIL();
    } catch (i4_err& error) {
        EXPECT_STREQ(error.message(), "couldn't create UDPAnnex");
    }
}

TEST(UdpPacket, FailedSendIsNotCountedAsSent) {
    uint8_t ip[4] = {127, 0, 0, 1};
    i4_tcpip_address address(ip, 9);
    UDPPacket packet(2, &address, 0xE3);
    packet.buffer()->write_8(1);
    packet.buffer()->write_8(2);
    FakeSocket socket;
    socket.sendToResult = -1;
    int sent = 7;
    EXPECT_EQ(packet.send(&socket, &sent), Packet::kFailed);
    EXPECT_EQ(sent, 0);
    socket.sendToResult = 2;  // cut short
    EXPECT_EQ(packet.send(&socket, &sent), Packet::kFailed);
    EXPECT_EQ(sent, 2);
    socket.sendToResult = 0;
    EXPECT_EQ(packet.send(&socket, &sent), Packet::kComplete);
    EXPECT_EQ(socket.sentDatagrams.back(), "\xE3\x01\x02");

    ProtocolScope scope(nullptr);
    CaptureUI ui;
    UDPPacket orphan(1, ipFromBytes(ip), 9, 0xE3);
    EXPECT_EQ(orphan.destination(), nullptr);
    EXPECT_EQ(ui.printed(), (std::vector<std::string>{"ERROR: prot NULL 1\n"}));
}

}  // namespace
