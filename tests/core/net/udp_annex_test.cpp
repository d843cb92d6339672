// The datagram endpoint on loopback sockets: marker filter, datagram views,
// budgets, pacing of sends and socket errors.
#include <gtest/gtest.h>
#include <unistd.h>

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

TEST_F(UdpAnnexTest, OnePacketGoesOutPerService) {
    for (char c : std::string("123")) annex_->send(packetTo(peerPort_, std::string(1, c) + "z"));
    for (int i = 1; i <= 3; i++) {
        pool_->tick(10);
        EXPECT_EQ(annex_->queuedPackets(), 3 - i);
        // Only the written bytes travel, not the rest of the allocation.
        EXPECT_EQ(raw_read(peer_, 1000, nullptr), std::string("\xE3") + std::to_string(i) + "z");
        EXPECT_EQ(raw_read(peer_, 0, nullptr), "");
    }
}

TEST_F(UdpAnnexTest, PacketWithoutDestinationIsDroppedInItsTurn) {
    annex_->send(new UDPPacket(4, static_cast<const i4_address*>(nullptr), 0xE3));
    annex_->send(packetTo(peerPort_, "\x01"));
    pool_->tick(10);
    EXPECT_EQ(annex_->queuedPackets(), 1);
    EXPECT_EQ(raw_read(peer_, 20, nullptr), "");
    pool_->tick(10);
    EXPECT_EQ(raw_read(peer_, 1000, nullptr), "\xE3\x01");

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
