#include "core/startup/core_thread.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "core/bus/message_q.h"
#include "core/net/network_protocol.h"
#include "core/net/peer_connector.h"
#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "core/startup/core_startup_fixture.h"
#include "support/files.h"
#include "core/startup/network_setup.h"
#include "v4ada/error/error.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/proxy_settings.h"
#include "v4ada/net/socket.h"

using namespace support;

using startuptest::CoreStartupTest;
using startuptest::QuietConnection;
using startuptest::resolvesThroughProxy;

namespace {

// Notes what the pool and the filter look like when the bus hands it a
// message.
class ProbeHandler : public MessageHandler {
public:
    explicit ProbeHandler(CoreThread* core, Connection* watched) : core_(core), watched_(watched) {}
    void handle(Message*) override {
        handled++;
        sawActive = core_->socketPool()->isActive(watched_);
    }
    int handled = 0;
    bool sawActive = false;

private:
    CoreThread* core_;
    Connection* watched_;
};

// A SOCKS5 proxy on the loopback (never contacted by these tests).
void makeSocks5(ProxySettings& proxy) {
    proxy.type = kProxySocks5;
    proxy.setHost("127.0.0.1");
    proxy.port = 1080;
}

// The tests make (and some destroy) the process-wide core and options by
// hand: those calls are what they test.
class CoreThreadTest : public CoreStartupTest {
protected:
    CoreThread* makeCore() {
        CoreThread::createInstance();
        CoreThread* core = coreThread();
        core->setBaseDirectory(dir_.path().c_str());
        return core;
    }
};

TEST_F(CoreThreadTest, BuildTakesEveryStepFromTheLoadedOptions) {
    ProxySettings proxy;
    makeSocks5(proxy);
    writePrefsWithProxy(&proxy);
    write_file(filtersPath(), "fake\nspam\n");

    CoreThread* core = makeCore();
    EXPECT_EQ(core->socketPool(), nullptr);
    EXPECT_EQ(networkProtocol(), nullptr);
    core->build();

    // pref.met was read before the protocol was built: it carries the proxy.
    ASSERT_NE(networkProtocol(), nullptr);
    EXPECT_TRUE(resolvesThroughProxy(networkProtocol().get()));
    // filters.txt came from the base directory the options loaded.
    EXPECT_EQ(core->filters()->lineCount(), 2);
    EXPECT_TRUE(core->filters()->matchesText("a SPAM mail"));
    // Pool and connector exist and belong together.
    ASSERT_NE(core->socketPool(), nullptr);
    ASSERT_NE(core->peerConnector(), nullptr);
    EXPECT_EQ(core->peerConnector()->pool(), core->socketPool());
    EXPECT_EQ(core->currentState(), Thread::kStopped);

    // A second build keeps what there is.
    STSocketPool* pool = core->socketPool();
    core->build();
    EXPECT_EQ(core->socketPool(), pool);
    EXPECT_TRUE(core->stop());
}

TEST_F(CoreThreadTest, FirstStepTicksThePoolBeforeTheBus) {
    CoreThread* core = makeCore();
    core->build();
    auto connection = new QuietConnection();
    core->socketPool()->add(connection);
    EXPECT_EQ(core->connectionCount(), 1);  // pending additions count

    ProbeHandler probe(core, connection);
    messageQ->setHandler(&probe, MSG_RESERVED_20);
    messageQ->post(MSG_RESERVED_20, nullptr);
    core->step();
    // The pool had applied its additions when the bus ran, in that step.
    EXPECT_EQ(probe.handled, 1);
    EXPECT_TRUE(probe.sawActive);
    EXPECT_EQ(core->connectionCount(), 1);

    EXPECT_TRUE(core->stop());
    EXPECT_EQ(core->connectionCount(), 0);
    EXPECT_EQ(core->socketPool(), nullptr);
    EXPECT_EQ(core->peerConnector(), nullptr);
}

TEST_F(CoreThreadTest, StopSavesPrefsAndDeletesEveryConnection) {
    CoreThread* core = makeCore();
    core->build();
    bool deleted = false;
    core->socketPool()->add(new QuietConnection(&deleted));
    core->step();
    ASSERT_FALSE(file_exists(prefsPath()));

    EXPECT_TRUE(core->stop());
    EXPECT_TRUE(deleted);
    EXPECT_TRUE(file_exists(prefsPath()));
    // What was saved reads back as the same user.
    CoreOptions reread;
    reread.loadFrom(dir_.path().c_str());
    EXPECT_STREQ(reread.nickname().c_str(), coreOptions()->nickname().c_str());
    // Stopped tasks are no longer ticked: a step after stop touches nothing.
    core->step();
}

TEST_F(CoreThreadTest, TrailingSlashOnTheBaseDirectoryGivesTheSamePaths) {
    write_file(filtersPath(), "x\n");
    CoreThread::createInstance();
    CoreThread* core = coreThread();
    core->setBaseDirectory((dir_.path() + "/").c_str());
    core->build();
    EXPECT_STREQ(coreOptions()->filtersPath().c_str(), filtersPath().c_str());
    EXPECT_EQ(core->filters()->lineCount(), 1);
    EXPECT_TRUE(core->stop());
    EXPECT_TRUE(file_exists(prefsPath()));
}

TEST_F(CoreThreadTest, FailedPrefsSaveAtStopIsReported) {
    CoreThread* core = makeCore();
    core->build();
    // A directory in the way of the temporary file makes the save fail.
    write_file(prefsPath() + ".tmp/blocker", "x");
    EXPECT_FALSE(core->stop());
    EXPECT_NE(ui_.text().find("Settings couldn't be saved"), std::string::npos) << ui_.text();
    EXPECT_EQ(core->socketPool(), nullptr);
}

TEST_F(CoreThreadTest, ReloadFiltersMessageRereadsFiltersAndSaveLeavesThemAlone) {
    write_file(filtersPath(), "one\n");
    CoreThread* core = makeCore();
    core->build();
    ASSERT_EQ(core->filters()->lineCount(), 1);

    write_file(filtersPath(), "two\nthree\n");
    messageQ->post(MSG_SAVE_STATE, nullptr);  // not the core's: dropped
    core->step();
    EXPECT_EQ(core->filters()->lineCount(), 1);

    messageQ->post(MSG_RELOAD_FILTERS, nullptr);
    core->step();
    EXPECT_EQ(core->filters()->lineCount(), 2);
    EXPECT_TRUE(core->filters()->matchesText("THREE"));
    EXPECT_FALSE(core->filters()->matchesText("one"));

    core->saveFilters();
    EXPECT_EQ(read_file(filtersPath()), "two\nthree\n");

    // Without filters.txt the filter is empty.
    std::remove(filtersPath().c_str());
    messageQ->post(MSG_RELOAD_FILTERS, nullptr);
    core->step();
    EXPECT_EQ(core->filters()->lineCount(), 0);
    EXPECT_TRUE(core->stop());
}

TEST_F(CoreThreadTest, CoreHandlerIgnoresOtherCodes) {
    write_file(filtersPath(), "one\n");
    CoreThread* core = makeCore();
    core->build();
    write_file(filtersPath(), "two\nthree\n");
    CoreHandler handler(core);
    for (int code : {MSG_LOAD_STATE, MSG_SAVE_STATE, MSG_COMMAND_LINE, MSG_SET_PROXY}) {
        Message message{code, nullptr};
        handler.handle(&message);
        EXPECT_EQ(core->filters()->lineCount(), 1) << code;
    }
    Message reload{MSG_RELOAD_FILTERS, nullptr};
    handler.handle(&reload);
    EXPECT_EQ(core->filters()->lineCount(), 2);
    EXPECT_TRUE(core->stop());
}

TEST_F(CoreThreadTest, BuildWithoutBusOrOptionsFails) {
    CoreThread* core = makeCore();
    CoreOptions::destroyInstance();
    EXPECT_THROW(core->build(), i4_err);
    CoreOptions::createInstance();
    message_bus_destroy();
    EXPECT_THROW(core->build(), i4_err);
    EXPECT_EQ(core->socketPool(), nullptr);
}

TEST_F(CoreThreadTest, ProxyChangeRebuildsTheProtocolWhileOldReferencesStayValid) {
    CoreThread* core = makeCore();
    core->build();
    std::shared_ptr<i4_protocol> before = networkProtocol();
    ASSERT_NE(before, nullptr);
    EXPECT_FALSE(resolvesThroughProxy(before.get()));

    // Whoever changes the proxy settings rebuilds the protocol object.
    ProxySettings proxy;
    makeSocks5(proxy);
    ASSERT_TRUE(coreOptions()->setProxy(&proxy));
    EXPECT_EQ(networkProtocol(), before);
    rebuildNetworkProtocol(coreOptions()->proxySettings().get());
    std::shared_ptr<i4_protocol> after = networkProtocol();
    ASSERT_NE(after, nullptr);
    EXPECT_NE(after, before);
    EXPECT_TRUE(resolvesThroughProxy(after.get()));
    // The old object is still whole for whoever holds it.
    EXPECT_FALSE(resolvesThroughProxy(before.get()));
    EXPECT_STREQ(before->name(), "TCP/IP");

    // The protocol keeps its own copy of the settings.
    ASSERT_TRUE(coreOptions()->setProxy(nullptr));
    rebuildNetworkProtocol(coreOptions()->proxySettings().get());
    EXPECT_TRUE(resolvesThroughProxy(after.get()));
    EXPECT_FALSE(resolvesThroughProxy(networkProtocol().get()));
    EXPECT_TRUE(core->stop());
}

TEST(NetworkSetupTest, EachProxyTypeBuildsItsOwnProtocol) {
    struct Case {
        int type;
        bool proxied;
    } cases[] = {{kProxyNone, false}, {kProxySocks4, false}, {kProxySocks5, true}, {kProxyHttp, true}};
    for (const Case& c : cases) {
        ProxySettings proxy;
        proxy.type = c.type;
        proxy.setHost("127.0.0.1");
        proxy.port = 3128;
        rebuildNetworkProtocol(&proxy);
        std::shared_ptr<i4_protocol> protocol = networkProtocol();
        ASSERT_NE(protocol, nullptr);
        EXPECT_EQ(resolvesThroughProxy(protocol.get()), c.proxied) << c.type;
        // Nothing listens through a proxy.
        if (c.type != kProxyNone) {
            EXPECT_EQ(protocol->listen(0, 0, kSocketStream, nullptr), nullptr) << c.type;
        }
    }
    rebuildNetworkProtocol(nullptr);
    ASSERT_NE(networkProtocol(), nullptr);
    EXPECT_FALSE(resolvesThroughProxy(networkProtocol().get()));
    clearNetworkProtocol();
    EXPECT_EQ(networkProtocol(), nullptr);
}

TEST_F(CoreThreadTest, ProcessWideCoreIsMadeAndDestroyedExplicitly) {
    EXPECT_EQ(coreThread(), nullptr);
    CoreThread::createInstance();
    CoreThread* first = coreThread();
    ASSERT_NE(first, nullptr);
    CoreThread::createInstance();
    EXPECT_EQ(coreThread(), first);
    first->setBaseDirectory(dir_.path().c_str());
    first->build();
    ASSERT_NE(networkProtocol(), nullptr);

    // Destroying without stop frees the pool and empties the protocol
    // holder.
    CoreThread::destroyInstance();
    EXPECT_EQ(coreThread(), nullptr);
    EXPECT_EQ(networkProtocol(), nullptr);
    // The bus no longer hands the reload to the core that is gone.
    messageQ->post(MSG_RELOAD_FILTERS, nullptr);
    EXPECT_FALSE(messageQ->tick(0));
    CoreThread::destroyInstance();  // a second time does nothing
}

}  // namespace
