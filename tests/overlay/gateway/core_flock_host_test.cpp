// The program's host of the gateway: settings from the options record,
// sockets through the network protocol, and no pool before the core runs.
#include <gtest/gtest.h>

#include <memory>

#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "overlay/gateway/black_udp_annex.h"
#include "overlay/gateway/core_flock_host.h"
#include "overlay/gateway/flock_self.h"
#include "support/fake_net.h"
#include "support/loopback.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "v4ada/net/socket.h"

namespace {

TEST(CoreFlockHost, SettingsSocketsAndNoPoolBeforeTheCore) {
    initSpecialTags();
    support::TempDir dir;
    support::CaptureUI ui;
    CoreOptions::createInstance();
    coreOptions()->loadFrom(dir.path().c_str());
    CoreFlockHost host;
    EXPECT_TRUE(host.ownId().equals(coreOptions()->ownUserMeta()->userHash()));
    EXPECT_FALSE(host.ownId().isZero());
    EXPECT_STREQ(host.baseDirectory().c_str(), dir.path().c_str());
    int32_t port = 0;
    EXPECT_FALSE(host.savedUdpPort(&port));
    host.saveUdpPort(4321);
    ASSERT_TRUE(host.savedUdpPort(&port));
    EXPECT_EQ(port, 4321);
    int32_t option = 0;
    EXPECT_TRUE(coreOptions()->getIntOption(kOptAnnexPort, &option));
    EXPECT_EQ(option, 4321);

    {
        support::ProtocolScope scope(support::loopback_protocol());
        i4_socket* socket = host.openDatagramSocket(0, 2000);
        ASSERT_NE(socket, nullptr);
        EXPECT_NE(support::local_port(socket), 0);
        // No core thread: nothing serves the endpoint, which goes at once.
        EXPECT_FALSE(host.serveEndpoint(new BlackUDPAnnex(socket, 0xE3, nullptr)));
    }
    CoreOptions::destroyInstance();
    EXPECT_TRUE(host.ownId().isZero());
    EXPECT_FALSE(host.savedUdpPort(&port));
    resetSpecialTags();
}

}  // namespace
