// The data collector: the request handler counts into it only while
// collecting, and only hellos, route requests, searches and publishes;
// its report lines with 64-bit traffic totals.
#include "overlay/gateway/data_collector.h"

#include <gtest/gtest.h>

#include "core/net/clocked_connection.h"
#include "overlay/gateway/black_udp_annex.h"
#include "overlay/opcodes.h"
#include "overlay/index/service.h"
#include "overlay/index/service_search.h"
#include "overlay/overlay_fixture.h"
#include "support/memory_files.h"

using namespace overlaytest;

namespace {

class DataCollectorTest : public GatewayTest {
protected:
    void SetUp() override {
        startGateway();
        gateway_->setRequestCounter(&collector_);
        asker_ = peer("10.0.0.5", 4672);
    }
    void TearDown() override { gateway_->setRequestCounter(nullptr); }

    // One well-formed request of each counted kind.
    void sendCountedRequests() {
        Node node = makeNode(idOf({0x35}), "10.0.0.77", 4001);
        sendFrom(asker_, datagram(INODE_HELLO, record(node)));
        sendFrom(asker_, datagram(INODE_ROUTE, std::string(1, 5) + idBytes(idOf({0x44}))));
        ServiceSearch search(idOf({0x45}));
        support::ByteWriter searchBytes;
        search.write(searchBytes.file());
        sendFrom(asker_, datagram(INODE_SEARCH, support::as_text(searchBytes.bytes())));
        Service service;
        service.serviceId = idOf({0x46});
        service.descId = idOf({0x47});
        support::ByteWriter serviceBytes;
        service.toNetwork(serviceBytes.file());
        sendFrom(asker_, datagram(INODE_PUBLISH, support::as_text(serviceBytes.bytes())));
    }
    std::vector<int> counts() const {
        return {collector_.hello(), collector_.route(), collector_.search(), collector_.publish()};
    }

    DataCollector collector_;
    support::DatagramPeer* asker_ = nullptr;
};

TEST_F(DataCollectorTest, CountsTheFourRequestKindsOnlyWhileCollecting) {
    sendCountedRequests();
    EXPECT_EQ(counts(), (std::vector<int>{0, 0, 0, 0})) << "not collecting yet";

    collector_.startCollecting();
    sendCountedRequests();
    sendCountedRequests();
    EXPECT_EQ(counts(), (std::vector<int>{2, 2, 2, 2}));

    // Every other opcode, with and without a payload, counts nothing.
    for (int opcode = INODE_CONNECT; opcode <= INODE_NUMBUDDIES; opcode++) {
        if (opcode == INODE_HELLO || opcode == INODE_ROUTE || opcode == INODE_SEARCH || opcode == INODE_PUBLISH)
            continue;
        sendFrom(asker_, datagram(static_cast<uint8_t>(opcode)));
        sendFrom(asker_, datagram(static_cast<uint8_t>(opcode), std::string(60, '\x01')));
    }
    EXPECT_EQ(counts(), (std::vector<int>{2, 2, 2, 2}));

    collector_.reset();
    EXPECT_EQ(counts(), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_TRUE(collector_.collecting()) << "collecting stays on";
}

TEST_F(DataCollectorTest, ReportsCountsTimeAndWholeTrafficTotals) {
    collector_.startCollecting();
    collector_.reset();
    sendCountedRequests();
    Node node = makeNode(idOf({0x36}), "10.0.0.78", 4001);
    sendFrom(asker_, datagram(INODE_HELLO, record(node)));
    sim_.clock.advanceMs(300001);
    output_.clear();

    EndpointTraffic traffic;
    traffic.down = 1.5;
    traffic.up = 0.25;
    traffic.received = 5000000000ull;          // beyond 32 bits
    traffic.sent = (uint64_t{1} << 32) + 7;  // would print 7 if cut
    collector_.print(traffic);
    EXPECT_EQ(output_.logged(), (std::vector<std::string>{
                                    "Data Collector:",
                                    "Time(300001), Hello(2), Publish(1), Search(1), Route(1)",
                                    "OHDown(1.5000), OHUp(0.2500), OHTD(5000000000), OHTU(4294967303)",
                                }));
}

TEST_F(DataCollectorTest, TrafficOfTheEndpointOrZeros) {
    EndpointTraffic none = trafficOf(nullptr);
    EXPECT_EQ(none.received + none.sent, 0u);
    EXPECT_EQ(none.down + none.up, 0.0);
    sendCountedRequests();
    sim_.network.serveOnce(ClockedConnection::kWindowMs + 1);  // the endpoint's window closes
    const BlackUDPAnnex* endpoint = gateway_->endpoint();
    ASSERT_GT(endpoint->totalReceived(), 0u);
    ASSERT_GT(endpoint->receiveAverage(), 0.0);
    EndpointTraffic live = trafficOf(endpoint);
    EXPECT_EQ(live.down, endpoint->receiveAverage());
    EXPECT_EQ(live.up, endpoint->sendAverage());
    EXPECT_EQ(live.received, endpoint->totalReceived());
    EXPECT_EQ(live.sent, endpoint->totalSent());
}

}  // namespace
