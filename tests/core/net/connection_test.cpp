// Connections, rate windows, packets, dotted IPv4 text and byte budgets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/net/budgets.h"
#include "core/net/clocked_connection.h"
#include "core/net/ip_text.h"
#include "core/net/packet.h"
#include "core/net/socket_pool.h"
#include "support/fake_net.h"
#include "support/loopback.h"
#include "support/ui_capture.h"
#include "support/bytes.h"
#include "v4ada/net/address.h"

using namespace support;

namespace {

class CountingConnection : public ClockedConnection {
public:
    explicit CountingConnection(i4_socket* socket) { setSocket(socket); }
    bool doTask() override { return false; }
    void move(int sent, int received) {
        countSent(sent);
        countReceived(received);
    }
};

TEST(Connection, AttachNeedsASocketAndHappensOnce) {
    auto protocol = std::make_shared<FakeProtocol>();
    ProtocolScope scope(protocol);
    FakeBandwidth bandwidth;
    STSocketPool pool(&bandwidth);

    CountingConnection bare(nullptr);
    EXPECT_FALSE(bare.attach(&pool));

    auto socket = new FakeSocket();
    CountingConnection connection(socket);
    EXPECT_TRUE(connection.attach(&pool));
    EXPECT_TRUE(socket->inSet);
    EXPECT_EQ(socket->setFlags, 7);
    EXPECT_EQ(connection.pool(), &pool);
    EXPECT_FALSE(connection.attach(&pool));
}

TEST(Connection, DestructorClosesAndDeletesTheSocket) {
    bool destroyed = false;
    auto socket = new FakeSocket();
    socket->destroyed = &destroyed;
    { CountingConnection connection(socket); }
    EXPECT_TRUE(destroyed);
}

TEST(ClockedConnection, WindowClosesOnlyPastOneSecond) {
    CountingConnection connection(nullptr);
    connection.move(0, 5000);
    connection.tick(400);
    connection.tick(400);
    EXPECT_EQ(connection.ringIndex(), 0);
    connection.tick(200);  // exactly 1000 ms: still open
    EXPECT_EQ(connection.ringIndex(), 0);
    connection.tick(250);  // 1250 ms
    EXPECT_EQ(connection.ringIndex(), 1);
    EXPECT_DOUBLE_EQ(connection.receiveSample(0), 4.0);
    EXPECT_DOUBLE_EQ(connection.receiveAverage(), 0.5);
    EXPECT_EQ(connection.totalReceived(), 5000u);
    EXPECT_EQ(connection.bytesReceived(), 0);

    CountingConnection other(nullptr);
    for (int i = 0; i < 3; i++) other.tick(400);  // closes at 1200 ms, not 800
    EXPECT_EQ(other.ringIndex(), 1);
}

TEST(ClockedConnection, AveragesClimbOverEightWindowsAndRingWraps) {
    CountingConnection connection(nullptr);
    for (int window = 1; window <= 9; window++) {
        connection.move(2002, 0);
        connection.tick(1001);  // 2 bytes per ms
        double expected = 2.0 * (window < 8 ? window : 8) / 8.0;
        EXPECT_DOUBLE_EQ(connection.sendAverage(), expected) << window;
    }
    EXPECT_EQ(connection.ringIndex(), 1);
    EXPECT_EQ(connection.totalSent(), 9u * 2002u);
}

TEST(ClockedConnection, LargeReceiveAverageIsLogged) {
    CaptureUI ui;
    CountingConnection connection(nullptr);
    connection.move(10, 400400);  // 400 bytes per ms: average 50, quiet
    connection.tick(1001);
    EXPECT_TRUE(ui.logged().empty());
    connection.move(10, 400400);  // average 100: still quiet
    connection.tick(1001);
    EXPECT_TRUE(ui.logged().empty());
    connection.move(10, 2002);  // average 100.25: logged
    connection.tick(1001);
    ASSERT_EQ(ui.logged().size(), 3u);
    EXPECT_EQ(ui.logged()[0], "Large Download Speed in ClockedConnection! (last 8 values / 8.0)");
    EXPECT_EQ(ui.logged()[1], "Bytes Sent: 10, Bytes Got: 2002, Timepassed: 1001");
    EXPECT_EQ(ui.logged()[2],
              "Array: 0:400.00, 1:400.00, 2:2.00, 3:0.00, 4:0.00, 5:0.00, 6:0.00, 7:0.00, ");
    // A long fast transfer: the lines come again only a minute later.
    int windows = 0;
    while (ui.logged().size() == 3u && windows < 100) {
        connection.move(0, 400400);
        connection.tick(1001);
        windows++;
    }
    EXPECT_EQ(windows, 60);  // 60 x 1001 ms since the first lines
    ASSERT_EQ(ui.logged().size(), 6u);
    EXPECT_EQ(ui.logged()[3], ui.logged()[0]);
}

TEST(ClockedConnection, TotalsGoPastThirtyTwoBits) {
    CaptureUI ui;  // keeps the large-speed lines out of the test output
    CountingConnection connection(nullptr);
    for (int i = 0; i < 3; i++) {
        connection.move(0x7FFF0000, 0x7FFF0000);
        connection.tick(1001);
    }
    EXPECT_EQ(connection.totalSent(), 3ull * 0x7FFF0000ull);
    EXPECT_EQ(connection.totalReceived(), 3ull * 0x7FFF0000ull);
}

TEST(IpText, FromTextAcceptsOnlyFourOctets) {
    struct Case {
        const char* text;
        uint32_t expected;
    };
    uint8_t oneTwoThreeFour[4] = {1, 2, 3, 4};
    uint32_t v = ipFromBytes(oneTwoThreeFour);
    const Case cases[] = {
        {"1.2.3.4", v},       {"1.2.3.4\n", v},  {"1.2.3", 0},      {"1.2.3.", 0},       {"1.2.3.256", 0},
        {"300.2.3.4", 0},     {"1.2.3.4x", 0},   {"1.2.3.4 ", 0},   {"1.2.3.4.5", 0},    {"", 0},
        {"a.b.c.d", 0},       {"-1.2.3.4", 0},   {"1..3.4", 0},     {"0001.2.3.4", 0},   {"1.2.3.4\n\n", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ipFromText(c.text), c.expected) << c.text;
    EXPECT_EQ(ipFromText(nullptr), 0u);
}

TEST(IpText, RoundTripAndAddressBytes) {
    OwnedString text;
    for (const char* dotted : {"0.0.0.0", "255.255.255.255", "10.0.200.7", "127.0.0.1"}) {
        EXPECT_STREQ(ipToText(ipFromText(dotted), text), dotted);
    }
    uint8_t ip[4] = {192, 168, 1, 20};
    i4_tcpip_address address(ip, 4662);
    EXPECT_EQ(addressToIp(&address), ipFromBytes(ip));
    EXPECT_STREQ(addressToText(&address, text), "192.168.1.20");
    EXPECT_EQ(addressToIp(nullptr), 0u);
}

TEST(Packet, BufferRemembersHowFarItWasWritten) {
    Packet packet(16);
    EXPECT_EQ(packet.buffer()->written(), 0);
    packet.buffer()->write_32(7);
    packet.buffer()->seek(1);
    packet.buffer()->write_8(1);
    EXPECT_EQ(packet.buffer()->written(), 4);
    for (int i = 0; i < 20; i++) packet.buffer()->write_8(0);  // grows past 16
    EXPECT_EQ(packet.buffer()->written(), 22);
    Packet empty(0);
    int got = 1;
    EXPECT_EQ(empty.read(nullptr, &got), Packet::kPartial);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(empty.clone(), nullptr);
}

TEST(Budgets, ServiceBudgetFromLimitAndElapsedTime) {
    struct Case {
        double limit;
        int64_t ms;
        double carryIn;
        int32_t expected;
        double carryOut;
    };
    const Case cases[] = {
        {5.0, 200, 0.0, 1000, 0.0},                     // 5 KB/s over 200 ms
        {0.0, 200, 0.7, kNoBudgetLimit, 0.0},           // no limit
        {0.25, 3, 0.0, 0, 0.75},                        // below a byte: carried
        {0.25, 3, 0.75, 1, 0.5},                        // ... and let through later
        {2.5, 3, 0.0, 7, 0.5},                          // fraction of a larger limit
        {1e9, 1000, 0.0, kNoBudgetLimit, 0.0},          // clamped high
        {-3.0, 100, 0.0, 0, 0.0},                       // never negative
        {5.0, 0, 0.0, 0, 0.0},
    };
    for (const Case& c : cases) {
        double carry = c.carryIn;
        EXPECT_EQ(budgetForService(c.limit, c.ms, &carry), c.expected) << c.limit << " " << c.ms;
        EXPECT_NEAR(carry, c.carryOut, 1e-9) << c.limit << " " << c.ms;
    }
}

TEST(Budgets, ChargesStopAtZeroAndResetRestoresTheNoLimitValue) {
    setReadBudget(10);
    chargeReadBudget(4);
    EXPECT_EQ(readBudget(), 6);
    chargeReadBudget(100);
    EXPECT_EQ(readBudget(), 0);
    setWriteBudget(-5);
    EXPECT_EQ(writeBudget(), 0);
    budgets_reset();
    EXPECT_EQ(readBudget(), kNoBudgetLimit);
    EXPECT_EQ(writeBudget(), kNoBudgetLimit);
}

}  // namespace
