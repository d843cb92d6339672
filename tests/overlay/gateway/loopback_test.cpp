// One gateway on real UDP sockets bound to 127.0.0.1 (OS-chosen ports), in
// a scratch directory, talking to plain UDP sockets that play its peers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "core/meta/special_tags.h"
#include "core/net/check_trailer.h"
#include "core/net/ip_text.h"
#include "core/net/socket_pool.h"
#include "core/task/task_thread.h"
#include "overlay/gateway/black_udp_annex.h"
#include "overlay/routing/contact_list.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/gateway/flock_host.h"
#include "overlay/opcodes.h"
#include "overlay/index/service.h"
#include "overlay/index/service_search.h"
#include "overlay/overlay_fixture.h"
#include "support/fake_net.h"
#include "support/files.h"
#include "support/loopback.h"
#include "support/memory_files.h"

using namespace overlaytest;

namespace {

// Real sockets of the loopback protocol, served by a pool of this host.
class LoopbackHost : public FlockHost {
public:
    LoopbackHost(const UniqueID& id, std::string dir) : id_(id), dir_(std::move(dir)) {
        pool_ = std::make_unique<STSocketPool>(&bandwidth_);
    }
    UniqueID ownId() override { return id_; }
    OwnedString baseDirectory() override { return OwnedString(dir_.c_str()); }
    // Always 0: the system picks a free port for every start.
    bool savedUdpPort(int32_t* port) override {
        *port = 0;
        return true;
    }
    void saveUdpPort(int32_t port) override { saved = port; }
    i4_socket* openDatagramSocket(int port, int timeoutMs) override {
        i4_socket* socket = protocol_->listen(port, timeoutMs, kSocketDatagram, nullptr);
        if (socket != nullptr) socket->setBlocking(false);
        return socket;
    }
    bool serveEndpoint(BlackUDPAnnex* endpoint) override {
        pool_->add(endpoint);
        return true;
    }
    void withdrawEndpoint(BlackUDPAnnex* endpoint) override { pool_->remove(endpoint); }
    void addTask(TimeSliceTask* task) override { tasks_.addTask(task); }
    void removeTask(TimeSliceTask* task) override { tasks_.removeTask(task); }
    int doorPort() override { return 4662; }
    uint32_t recordedIp() override { return 0; }
    void setRecordedIp(uint32_t) override {}
    void setBuddy(uint32_t, int) override {}
    PeerLink* peers() override { return nullptr; }

    // One round of the pool and the tasks.
    void step() {
        pool_->tick(0);
        tasks_.step();
    }

    int32_t saved = -1;

private:
    std::shared_ptr<i4_tcpip_protocol> protocol_ = support::loopback_protocol();
    support::ProtocolScope scope_{protocol_};
    support::FakeBandwidth bandwidth_;
    std::unique_ptr<STSocketPool> pool_;
    TaskThread tasks_;
    UniqueID id_;
    std::string dir_;
};

// A plain UDP socket on 127.0.0.1 playing a peer.
struct RawPeer {
    RawPeer() { fd = support::raw_udp(&port); }
    ~RawPeer() { ::close(fd); }
    Node node(const UniqueID& id) const { return makeNode(id, "127.0.0.1", port); }
    int fd = -1;
    int port = 0;
};

class LoopbackTest : public ::testing::Test {
protected:
    LoopbackTest() {
        initSpecialTags();
        makeGateway();
    }
    ~LoopbackTest() override {
        gateway_.reset();
        host_.reset();
        resetSpecialTags();
    }
    void makeGateway() {
        gateway_.reset();
        host_ = std::make_unique<LoopbackHost>(idOf({0x80, 0x02}), dir_.path());
        gateway_ = std::make_unique<FlockGateway>(*host_);
    }
    int port() { return gateway_->self().udpPort(); }
    // Serves the gateway until the peer has a datagram.
    std::string awaitAnswer(RawPeer& peer) {
        for (int round = 0; round < 500; round++) {
            host_->step();
            std::string got = support::raw_read(peer.fd, 2);
            if (!got.empty()) return got;
        }
        return "";
    }
    std::string exchange(RawPeer& peer, const std::string& bytes) {
        support::raw_send_to(peer.fd, port(), bytes);
        return awaitAnswer(peer);
    }

    support::TempDir dir_;
    support::CaptureUI output_;
    std::unique_ptr<LoopbackHost> host_;
    std::unique_ptr<FlockGateway> gateway_;
};

TEST_F(LoopbackTest, BootsFromContactFileAndAnswersOnTheWire) {
    RawPeer seed;
    NodeList saved;
    Node seedNode = seed.node(idOf({0x11}));
    saved.addCopy(&seedNode);
    ASSERT_TRUE(saved.save((dir_ / "contact.dat").c_str(), 1));

    gateway_->start();
    ASSERT_NE(gateway_->endpoint(), nullptr);
    ASSERT_NE(port(), 0);
    std::string connect = awaitAnswer(seed);
    EXPECT_EQ(connect, datagram(INODE_CONNECT, record(gateway_->ownNode())));
    std::string records;
    for (int i = 0; i < 6; i++) records += record(makeNode(idOf({0x20, static_cast<uint8_t>(i)}), "127.0.0.1", 40000 + i));
    support::raw_send_to(seed.fd, port(), datagram(INODE_CONNECTREPLY, le16(6) + records));
    for (int round = 0; round < 500 && !gateway_->booter().booted(); round++) host_->step();
    EXPECT_TRUE(gateway_->booter().booted());
    EXPECT_EQ(gateway_->contacts()->size(), 6);

    RawPeer asker;
    Node askerNode = asker.node(idOf({0x33}));
    std::string reply = exchange(asker, datagram(INODE_CONNECT, record(askerNode)));
    EXPECT_EQ(reply.substr(0, 2), "\xE3\x0B");
    EXPECT_EQ(reply.size(), 4u + 23u * le16At(reply, 2));
    EXPECT_EQ(exchange(asker, datagram(INODE_HELLO, record(askerNode))), datagram(INODE_HELLOREPLY));
    reply = exchange(asker, datagram(INODE_ROUTE, std::string(1, 3) + idBytes(idOf({0x20}))));
    EXPECT_EQ(reply.substr(0, 19), datagram(INODE_ROUTEREPLY, idBytes(idOf({0x20})) + "\x03"));
    EXPECT_EQ(reply.size(), 19u + 3u * 23u);

    Service service;
    service.serviceId = idOf({0x51});
    service.descId = idOf({0x52});
    service.set("loc", "bcp://127.0.0.1:4662", kTagString);
    support::ByteWriter publish;
    service.toNetwork(publish.file());
    EXPECT_EQ(exchange(asker, datagram(INODE_PUBLISH, support::as_text(publish.bytes()))),
              datagram(INODE_PUBLISHACK, idBytes(service.serviceId)));
    ServiceSearch search(service.serviceId);
    support::ByteWriter query;
    search.write(query.file());
    reply = exchange(asker, datagram(INODE_SEARCH, support::as_text(query.bytes())));
    EXPECT_EQ(reply.substr(0, 2 + 32), datagram(INODE_SEARCHRESULT, idBytes(service.serviceId) + idBytes(service.descId)));
    EXPECT_EQ(awaitAnswer(asker), datagram(INODE_SEARCHEND, idBytes(service.serviceId) + le16(1) + le16(1)));

    std::string check = datagram(INODE_CHECK, le32(2) + record(askerNode) + std::string(20, '\x07'));
    messageCheckTrailer(reinterpret_cast<uint8_t*>(check.data()), check.size(), 15);
    reply = exchange(asker, check);
    ASSERT_EQ(reply.size(), 49u);
    EXPECT_EQ(reply[1], '\x20');
    EXPECT_TRUE(messageCheckTrailer(reinterpret_cast<uint8_t*>(reply.data()), reply.size(), 15));
}

TEST_F(LoopbackTest, BlacklistedSenderIsIgnored) {
    gateway_->start();
    RawPeer bad, good;
    Node badNode = bad.node(idOf({0x44}));
    gateway_->blacklistNode(&badNode);
    support::raw_send_to(bad.fd, port(), datagram(INODE_HELLO, record(badNode)));
    // A later datagram of another peer is answered: the first was taken.
    EXPECT_EQ(exchange(good, datagram(INODE_HELLO, record(good.node(idOf({0x45}))))), datagram(INODE_HELLOREPLY));
    for (int i = 0; i < 3; i++) host_->step();
    EXPECT_EQ(support::raw_read(bad.fd, 0), "");
    EXPECT_EQ(gateway_->contacts()->size(), 1);
}

TEST_F(LoopbackTest, SetUdpPortMovesTheEndpoint) {
    gateway_->start();
    int first = port();
    BlackUDPAnnex* old = gateway_->endpoint();
    gateway_->self().setUdpPort(0);
    EXPECT_NE(gateway_->endpoint(), old);
    EXPECT_NE(port(), first);
    EXPECT_EQ(support::local_port(gateway_->endpoint()->socket()), port());
    RawPeer asker;
    EXPECT_EQ(exchange(asker, datagram(INODE_HELLO, record(asker.node(idOf({0x46}))))), datagram(INODE_HELLOREPLY));
}

TEST_F(LoopbackTest, ContactsWrittenAtStopAreUsedAtTheNextStart) {
    gateway_->start();
    RawPeer neighbour;
    Node node = neighbour.node(idOf({0x47}));
    EXPECT_EQ(exchange(neighbour, datagram(INODE_HELLO, record(node))), datagram(INODE_HELLOREPLY));
    int first = port();
    gateway_->stop();
    EXPECT_EQ(host_->saved, first);
    EXPECT_EQ(support::read_file(dir_ / "contact.dat"), le32(1) + record(node));

    makeGateway();
    gateway_->start();
    EXPECT_EQ(awaitAnswer(neighbour), datagram(INODE_CONNECT, record(gateway_->ownNode())));
}

}  // namespace
