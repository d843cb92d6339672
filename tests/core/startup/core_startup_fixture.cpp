#include "core/startup/core_startup_fixture.h"

#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "core/startup/network_setup.h"
#include "v4ada/net/address.h"
#include "v4ada/net/protocol.h"

namespace startuptest {

void CoreStartupTest::SetUp() {
    ASSERT_FALSE(dir_.path().empty());
    previousUI_ = setCurrentUI(&ui_);
}

void CoreStartupTest::TearDown() {
    // The core thread tests make the core themselves: making it is what they test.
    CoreThread::destroyInstance();
    clearNetworkProtocol();
    setCurrentUI(previousUI_);
}

void CoreStartupTest::writePrefsWithProxy(const ProxySettings* proxy) {
    CoreOptions options;
    options.loadFrom(dir_.path().c_str());
    options.setProxy(proxy);
    ASSERT_TRUE(options.save());
}

bool resolvesThroughProxy(i4_protocol* protocol) {
    i4_address* address = protocol->resolve("127.0.0.1");
    bool proxied = dynamic_cast<i4_proxy_address*>(address) != nullptr;
    delete address;
    return proxied;
}

}  // namespace startuptest
