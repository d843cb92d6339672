#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "core/bus/message_q.h"
#include "core/net/network_protocol.h"
#include "core/net/socket_pool.h"
#include "core/startup/core_startup_fixture.h"
#include "support/files.h"
#include "core/startup/core_thread.h"
#include "core/startup/network_setup.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/proxy_settings.h"

using namespace support;

using startuptest::CoreStartupTest;
using startuptest::QuietConnection;
using startuptest::resolvesThroughProxy;

namespace {

// Polls until the flag is set or five seconds have passed.
bool waitFor(const std::atomic<bool>& flag) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!flag.load()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs on the task thread: notes whether the watched connection was
// active, i.e. the pool had been ticked, when the bus handed it a message.
class ProbeHandler : public MessageHandler {
public:
    ProbeHandler(CoreThread* core, Connection* watched) : core_(core), watched_(watched) {}
    void handle(Message*) override {
        sawActive.store(core_->socketPool()->isActive(watched_));
        handled.store(true);
    }
    std::atomic<bool> handled{false};
    std::atomic<bool> sawActive{false};

private:
    CoreThread* core_;
    Connection* watched_;
};

// Each test makes the process-wide core by hand: its life is what they test.
using CoreThreadMtTest = CoreStartupTest;

TEST_F(CoreThreadMtTest, StartRunsThePoolThenTheBusAndStopSaves) {
    write_file(filtersPath(), "junk\n");
    CoreThread::createInstance();
    CoreThread* core = coreThread();
    core->setBaseDirectory(dir_.path().c_str());

    // A message posted before start is handled once the task thread runs.
    std::atomic<bool> reloaded{false};
    struct Reload : MessageHandler {
        std::atomic<bool>* done;
        CoreThread* core;
        void handle(Message*) override {
            core->reloadFilters();
            done->store(true);
        }
    } early;
    early.done = &reloaded;
    early.core = core;
    messageQ->setHandler(&early, MSG_RESERVED_20);
    messageQ->post(MSG_RESERVED_20, nullptr);

    core->build();
    bool deleted = false;
    auto connection = new QuietConnection(&deleted);
    core->socketPool()->add(connection);
    ProbeHandler probe(core, connection);
    messageQ->setHandler(&probe, MSG_RETEST_FIREWALL);
    messageQ->post(MSG_RETEST_FIREWALL, nullptr);

    std::atomic<bool> after{false};
    struct Flag : MessageHandler {
        std::atomic<bool>* done;
        void handle(Message*) override { done->store(true); }
    } marker;
    marker.done = &after;
    messageQ->setHandler(&marker, MSG_CHECK_DISK_SPACE);

    core->start();
    EXPECT_EQ(core->currentState(), Thread::kRunning);
    ASSERT_TRUE(waitFor(reloaded));
    ASSERT_TRUE(waitFor(probe.handled));
    EXPECT_TRUE(probe.sawActive.load());
    EXPECT_EQ(core->filters()->lineCount(), 1);

    // MSG_RELOAD_FILTERS reaches the core's handler on the task thread.
    write_file(filtersPath(), "a\nb\nc\n");
    // The bus hands out one message per tick, oldest first: the marker
    // comes after the reload.
    messageQ->post(MSG_RELOAD_FILTERS, nullptr);
    messageQ->post(MSG_CHECK_DISK_SPACE, nullptr);
    ASSERT_TRUE(waitFor(after));
    EXPECT_EQ(core->filters()->lineCount(), 3);

    core->join();
    EXPECT_EQ(core->currentState(), Thread::kStopped);
    EXPECT_TRUE(core->stop());
    EXPECT_TRUE(deleted);
    EXPECT_TRUE(file_exists(prefsPath()));
    CoreThread::destroyInstance();
}

TEST_F(CoreThreadMtTest, StopWithoutJoinStopsTheTaskThreadFirst) {
    CoreThread::createInstance();
    CoreThread* core = coreThread();
    core->setBaseDirectory(dir_.path().c_str());
    core->start();
    // Another thread reads the connection count all along.
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            int n = core->connectionCount();
            EXPECT_GE(n, 0);
            EXPECT_LE(n, 1);
        }
    });
    core->socketPool()->add(new QuietConnection());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(core->stop());
    EXPECT_EQ(core->currentState(), Thread::kStopped);
    EXPECT_EQ(core->connectionCount(), 0);
    done.store(true);
    reader.join();
    EXPECT_TRUE(file_exists(prefsPath()));
}

TEST(NetworkSetupMtTest, RebuildsNeverFreeAProtocolInUse) {
    ProxySettings proxy;
    proxy.type = kProxySocks5;
    proxy.setHost("127.0.0.1");
    proxy.port = 1080;
    rebuildNetworkProtocol(nullptr);

    std::atomic<bool> done{false};
    std::atomic<int> uses{0};
    std::vector<std::thread> users;
    for (int i = 0; i < 3; i++) {
        users.emplace_back([&] {
            while (!done.load()) {
                // Like a connect thread: take a reference, then use it a while.
                std::shared_ptr<i4_protocol> protocol = networkProtocol();
                if (!protocol) continue;
                resolvesThroughProxy(protocol.get());
                std::this_thread::yield();
                resolvesThroughProxy(protocol.get());
                uses++;
            }
        });
    }
    for (int round = 0; round < 300; round++)
        rebuildNetworkProtocol(round % 2 ? nullptr : &proxy);
    while (uses.load() < 100) std::this_thread::yield();
    done.store(true);
    for (std::thread& user : users) user.join();
    clearNetworkProtocol();
    EXPECT_EQ(networkProtocol(), nullptr);
}

}  // namespace
