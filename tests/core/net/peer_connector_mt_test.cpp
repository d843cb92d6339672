// Outgoing connects on their own threads, and the pool's pending lists fed
// from several threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "core/net/ip_text.h"
#include "core/net/network_protocol.h"
#include "core/net/peer_connector.h"
#include "core/net/socket_pool.h"
#include "support/fake_net.h"
#include "support/loopback.h"
#include "support/ui_capture.h"
#include "support/bytes.h"
#include "tcp_test_fixture.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/threads/linux/threads.h"

using namespace coretest;
using namespace support;

namespace {

uint32_t loopbackIp() { return ipFromText("127.0.0.1"); }

// A protocol whose connects hang in their wait until released.
class GatedProtocol : public FakeProtocol {
public:
    explicit GatedProtocol(std::atomic<bool>* destroyed) : destroyed_(destroyed) {
        onConnect = [this](const i4_address*) -> i4_socket* {
            auto socket = new FakeSocket();
            socket->onWait = [this](int flags, int timeoutMs) {
                waitFlags = flags;
                waitTimeout = timeoutMs;
                waiting++;
                gate.wait();
                return answer.load();
            };
            return socket;
        };
    }
    ~GatedProtocol() override { destroyed_->store(true); }

    std::promise<void> opener;
    std::shared_future<void> gate{opener.get_future().share()};
    std::atomic<int> answer{kWritable};
    std::atomic<int> waiting{0};
    std::atomic<int> waitFlags{0};
    std::atomic<int> waitTimeout{0};

private:
    std::atomic<bool>* destroyed_;
};

void waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 2000 && !condition(); i++) sleep_ms(1);
}

TEST(PeerConnector, SecondAttemptToTheSameAddressIsRefused) {
    std::atomic<bool> protocolGone{false};
    auto protocol = std::make_shared<GatedProtocol>(&protocolGone);
    ProtocolScope scope(protocol);
    FakeBandwidth bandwidth;
    STSocketPool pool(&bandwidth);
    PeerConnector connector(&pool);

    ConnectionLog first, duplicate, other;
    auto a = new RecordingConnection(loopbackIp(), 4662, &first);
    EXPECT_TRUE(connector.connect(a));
    EXPECT_FALSE(connector.connect(new RecordingConnection(loopbackIp(), 4662, &duplicate)));
    EXPECT_TRUE(duplicate.destroyed);
    EXPECT_FALSE(connector.connect(a));  // the same object is not deleted
    EXPECT_TRUE(connector.connect(new RecordingConnection(loopbackIp(), 4663, &other)));
    EXPECT_TRUE(connector.connect(nullptr));
    EXPECT_EQ(connector.connectingCount(), 2);

    waitFor([&] { return protocol->waiting.load() == 2; });
    protocol->opener.set_value();
    threads_wait_all();
    EXPECT_EQ(connector.connectingCount(), 0);
    EXPECT_EQ(pool.count(), 2);
    EXPECT_EQ(protocol->waitFlags.load(), kWritable | kReadyError);
    EXPECT_EQ(protocol->waitTimeout.load(), TCPConnection::kConnectTimeoutMs);
    pool.applyPending();
    EXPECT_EQ(first.connected, 1);  // outgoing connections hear connected()
    EXPECT_EQ(other.connected, 1);
}

TEST(PeerConnector, ConnectThatTimesOutIsDeleted) {
    std::atomic<bool> protocolGone{false};
    auto protocol = std::make_shared<GatedProtocol>(&protocolGone);
    protocol->answer = 0;  // the wait runs out
    protocol->opener.set_value();
    ProtocolScope scope(protocol);
    FakeBandwidth bandwidth;
    STSocketPool pool(&bandwidth);
    PeerConnector connector(&pool);

    ConnectionLog log;
    EXPECT_TRUE(connector.connect(new RecordingConnection(loopbackIp(), 4662, &log)));
    threads_wait_all();
    EXPECT_EQ(log.connectFailed, 1);
    EXPECT_TRUE(log.destroyed);
    EXPECT_EQ(connector.connectingCount(), 0);
    EXPECT_EQ(pool.count(), 0);
}

TEST(PeerConnector, ReplacedProtocolOutlivesTheConnectInProgress) {
    std::atomic<bool> protocolGone{false};
    auto protocol = std::make_shared<GatedProtocol>(&protocolGone);
    GatedProtocol* raw = protocol.get();
    auto poolProtocol = std::make_shared<FakeProtocol>();
    ProtocolScope scope(protocol);
    FakeBandwidth bandwidth;
    STSocketPool pool(&bandwidth);
    PeerConnector connector(&pool);

    ConnectionLog log;
    connector.connect(new RecordingConnection(loopbackIp(), 4662, &log));
    waitFor([&] { return raw->waiting.load() == 1; });
    installNetworkProtocol(poolProtocol);  // rebuilt meanwhile
    protocol.reset();
    EXPECT_FALSE(protocolGone.load());  // the connect thread still holds it
    raw->opener.set_value();
    threads_wait_all();
    EXPECT_TRUE(protocolGone.load());
    EXPECT_EQ(pool.count(), 1);
}

TEST(PeerConnector, ConnectsOnLoopbackOrFails) {
    auto protocol = loopback_protocol();
    ProtocolScope scope(protocol);
    FakeBandwidth bandwidth;
    STSocketPool pool(&bandwidth);
    PeerConnector connector(&pool);
    i4_socket* listener = protocol->listen(0, 0, kSocketStream, nullptr);
    int port = local_port(listener);
    int closedPort = 0;
    int refusing = raw_refusing_tcp(&closedPort);  // bound, not listening

    ConnectionLog good, refused;
    EXPECT_TRUE(connector.connect(new RecordingConnection(loopbackIp(), port, &good)));
    EXPECT_TRUE(connector.connect(new RecordingConnection(loopbackIp(), closedPort, &refused)));
    threads_wait_all();
    EXPECT_EQ(refused.connectFailed, 1);
    EXPECT_TRUE(refused.destroyed);
    EXPECT_EQ(pool.count(), 1);
    pool.tick(10);
    EXPECT_EQ(good.connected, 1);
    listener->close();
    delete listener;
    ::close(refusing);
}

TEST(PeerConnector, ConnectWithoutProtocolFails) {
    ProtocolScope scope(nullptr);
    CaptureUI ui;
    ConnectionLog log;
    RecordingConnection connection(loopbackIp(), 4662, &log);
    EXPECT_FALSE(connection.connect(nullptr));
    EXPECT_EQ(log.connectFailed, 1);
    EXPECT_EQ(ui.printed(), (std::vector<std::string>{"ERROR: Protocol NULL\n"}));
}

class QuietConnection : public Connection {
public:
    explicit QuietConnection(std::atomic<int>* deleted) : deleted_(deleted) { setSocket(new FakeSocket()); }
    ~QuietConnection() override { deleted_->fetch_add(1); }
    bool doTask() override { return false; }

private:
    std::atomic<int>* deleted_;
};

TEST(SocketPoolThreads, PendingListsTakeConnectionsFromManyThreads) {
    auto protocol = std::make_shared<FakeProtocol>();
    ProtocolScope scope(protocol);
    FakeBandwidth bandwidth;
    std::atomic<int> deleted{0};
    {
        STSocketPool pool(&bandwidth);
        std::atomic<bool> done{false};
        std::thread ticker([&] {
            while (!done.load()) pool.tick(1);
        });
        std::vector<std::thread> feeders;
        for (int t = 0; t < 4; t++) {
            feeders.emplace_back([&] {
                for (int i = 0; i < 50; i++) {
                    auto connection = new QuietConnection(&deleted);
                    pool.add(connection);
                    if (i % 2 == 0) pool.remove(connection);
                }
            });
        }
        for (auto& feeder : feeders) feeder.join();
        done = true;
        ticker.join();
        pool.applyPending();
        pool.applyPending();
        EXPECT_EQ(deleted.load(), 100);
        EXPECT_EQ(pool.count(), 100);
        EXPECT_EQ(pool.activeCount(), 100);
    }
    EXPECT_EQ(deleted.load(), 200);
}

}  // namespace
