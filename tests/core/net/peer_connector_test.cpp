// Outgoing connects when no connect thread can be created.
#include <gtest/gtest.h>

#include "core/net/ip_text.h"
#include "core/net/network_protocol.h"
#include "core/net/peer_connector.h"
#include "core/net/socket_pool.h"
#include "v4ada/threads/spawn_failure.h"
#include "support/fake_net.h"
#include "support/loopback.h"
#include "support/ui_capture.h"
#include "support/bytes.h"
#include "tcp_test_fixture.h"

using namespace coretest;
using namespace support;

namespace {

TEST(PeerConnector, ConnectWithoutAThreadIsUndone) {
    ProtocolScope scope(std::make_shared<FakeProtocol>());
    FakeBandwidth bandwidth;
    STSocketPool pool(&bandwidth);
    PeerConnector connector(&pool);
    ConnectionLog log;
    testing::internal::CaptureStderr();
    {
        HugeDefaultStack huge;
        EXPECT_FALSE(connector.connect(new RecordingConnection(ipFromText("127.0.0.1"), 4662, &log)));
    }
    testing::internal::GetCapturedStderr();
    // Nothing stays listed as connecting, and the connection is not leaked.
    EXPECT_EQ(connector.connectingCount(), 0);
    EXPECT_TRUE(log.destroyed);
    EXPECT_EQ(pool.count(), 0);
}

}  // namespace
