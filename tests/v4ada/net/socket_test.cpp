#include "v4ada/net/socket.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "v4ada/net/address.h"
#include "support/loopback.h"
#include "support/debug_capture.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket_set.h"

namespace {

using support::loopback_address;

struct Pair {
    std::unique_ptr<i4_socket> client;
    std::unique_ptr<i4_socket> server;
};

Pair connected_pair(i4_protocol* protocol, support::Listener& listener) {
    Pair pair;
    auto target = loopback_address(listener.port());
    pair.client.reset(protocol->connect(target.get(), kSocketStream, true));
    i4_socket* accepted = nullptr;
    if (pair.client && listener.socket()->accept(&accepted)) pair.server.reset(accepted);
    return pair;
}

TEST(TcpSocket, ConnectAcceptAndTransferResults) {
    auto protocol = support::loopback_protocol();
    support::Listener listener;
    ASSERT_NE(nullptr, listener.socket());
    Pair pair = connected_pair(protocol.get(), listener);
    ASSERT_NE(nullptr, pair.client);
    ASSERT_NE(nullptr, pair.server);

    std::unique_ptr<i4_tcpip_address> peer(pair.server->peerAddress());
    std::unique_ptr<i4_tcpip_address> local(pair.client->localAddress());
    ASSERT_NE(nullptr, peer);
    EXPECT_EQ(local->port(), peer->port());
    EXPECT_TRUE(peer->equals(loopback_address(0).get()));

    EXPECT_EQ(5, pair.client->write("hello", 5));
    EXPECT_EQ(kReadable, pair.server->waitUntil(kReadable, 2000, nullptr));
    char buffer[16];
    EXPECT_EQ(5, pair.server->read(buffer, sizeof(buffer)));
    EXPECT_EQ("hello", std::string(buffer, 5));

    // Nothing to read on a non-blocking socket: 0, not a closed peer.
    pair.server->setBlocking(false);
    EXPECT_EQ(0, pair.server->read(buffer, sizeof(buffer)));

    // The peer closes: reads give -1, and writes soon fail with -1 too.
    EXPECT_TRUE(pair.client->close());
    EXPECT_FALSE(pair.client->close());
    EXPECT_EQ(-1, pair.client->read(buffer, sizeof(buffer)));
    EXPECT_NE(0, pair.server->waitUntil(kReadable, 2000, nullptr));
    EXPECT_EQ(-1, pair.server->read(buffer, sizeof(buffer)));
    int result = 0;
    for (int i = 0; i < 100 && result >= 0; i++) {
        result = pair.server->write("x", 1);
        if (result >= 0) pair.server->waitUntil(kReadable, 10, nullptr);
    }
    EXPECT_EQ(-1, result);  // and no SIGPIPE ended the process
}

TEST(TcpSocket, ConnectToClosedPortFails) {
    auto protocol = support::loopback_protocol();
    int port;
    {
        support::Listener gone;
        port = gone.port();
    }
    auto target = loopback_address(port);
    EXPECT_EQ(nullptr, protocol->connect(target.get(), kSocketStream, true));

    // Without wait the socket comes back at once; its wait reports the error.
    std::unique_ptr<i4_socket> pending(protocol->connect(target.get(), kSocketStream, false));
    ASSERT_NE(nullptr, pending);
    EXPECT_NE(0, pending->waitUntil(kWritable | kReadyError, 2000, nullptr) & kReadyError);
}

TEST(TcpSocket, WaitTimesOutReportsProgressAndIsCancelledOnClosedSocket) {
    auto protocol = support::loopback_protocol();
    support::Listener listener;
    Pair pair = connected_pair(protocol.get(), listener);
    ASSERT_NE(nullptr, pair.server);

    EXPECT_EQ(0, pair.server->waitUntil(kReadable, 20, nullptr));

    struct Recorder : i4_progress {
        std::vector<float> seen;
        void update(float fraction) override { seen.push_back(fraction); }
    } recorder;
    EXPECT_EQ(0, pair.server->waitUntil(kReadable, 250, &recorder));
    ASSERT_GE(recorder.seen.size(), 2u);
    for (size_t i = 1; i < recorder.seen.size(); i++) EXPECT_GE(recorder.seen[i], recorder.seen[i - 1]);
    EXPECT_FLOAT_EQ(1.0f, recorder.seen.back());

    pair.client->write("x", 1);
    EXPECT_EQ(1, pair.server->waitUntil(kReadable, 2000, &recorder));

    support::DebugCapture capture;
    pair.server->close();
    EXPECT_EQ(0, pair.server->waitUntil(kReadable, 5000, nullptr));
    EXPECT_EQ("select canceled\n", capture.text());
    i4_socket* none = nullptr;
    EXPECT_FALSE(pair.server->accept(&none));
    EXPECT_EQ(nullptr, none);
}

TEST(SocketSet, MapsPollEventsToFlags) {
    struct Case {
        short revents;
        int flags;
    };
    const Case cases[] = {
        {POLLIN, kReadable},   {POLLOUT, kWritable},    {POLLIN | POLLOUT, kReadable | kWritable},
        {POLLERR, kReadyError}, {POLLNVAL, kReadyError}, {POLLHUP, 0},
        {POLLPRI, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(c.flags, flags_from_poll_events(c.revents)) << c.revents;
    EXPECT_EQ(POLLIN | POLLOUT, poll_events_from_flags(kReadable | kWritable | kReadyError));
}

TEST(SocketSet, GrowsAndReportsPerDescriptor) {
    linux_socket_set set;
    std::vector<int> pipes;
    for (int i = 0; i < 20; i++) {
        int ends[2];
        ASSERT_EQ(0, pipe(ends));
        pipes.push_back(ends[0]);
        pipes.push_back(ends[1]);
        if (i % 2 == 0) {
            ASSERT_EQ(1, ::write(ends[1], "x", 1));
        }
        set.add(ends[0], kReadable | kReadyError);
        set.add(ends[1], kWritable);
    }
    EXPECT_EQ(40, set.count());
    set.remove(pipes[4]);  // pipe 2's read end: the others keep their places
    EXPECT_EQ(39, set.count());
    EXPECT_GT(set.wait(1000), 0);
    for (int i = 0; i < 20; i++) {
        int readEnd = pipes[2 * i];
        int expected = (i % 2 == 0 && i != 2) ? kReadable : 0;
        EXPECT_EQ(expected, set.check(readEnd, kReadable | kWritable | kReadyError)) << i;
        EXPECT_EQ(kWritable, set.check(pipes[2 * i + 1], kWritable)) << i;
    }
    EXPECT_EQ(0, set.check(pipes[1], kReadable));  // not asked for
    EXPECT_EQ(0, set.check(9999, kReadable));      // not in the set
    for (int fd : pipes) ::close(fd);
}

// The wake descriptor ends a wait without limit, and counts as no entry.
TEST(SocketSet, WakeDescriptorEndsTheWaitAsATimeOut) {
    int wake[2], quiet[2];
    ASSERT_EQ(0, pipe(wake));
    ASSERT_EQ(0, pipe(quiet));
    linux_socket_set empty;
    empty.setWakeDescriptor(wake[0]);
    linux_socket_set set;
    set.add(quiet[0], kReadable);
    set.setWakeDescriptor(wake[0]);
    ASSERT_EQ(1, ::write(wake[1], "w", 1));
    EXPECT_EQ(0, empty.wait(-1));
    EXPECT_EQ(0, set.wait(-1));
    EXPECT_EQ(0, set.check(quiet[0], kReadable));
    ASSERT_EQ(1, ::write(quiet[1], "q", 1));
    EXPECT_EQ(1, set.wait(-1));
    EXPECT_EQ(kReadable, set.check(quiet[0], kReadable));
    for (int fd : {wake[0], wake[1], quiet[0], quiet[1]}) ::close(fd);
}

TEST(TcpListener, StreamPortIsReusableWhileConnectionsLinger) {
    auto protocol = support::loopback_protocol();
    int port;
    {
        support::Listener listener;
        port = listener.port();
        Pair pair = connected_pair(protocol.get(), listener);
        ASSERT_NE(nullptr, pair.server);
        pair.server->close();  // the server side closes first and lingers
        char buffer[4];
        pair.client->waitUntil(kReadable, 1000, nullptr);
        pair.client->read(buffer, sizeof(buffer));
    }
    std::unique_ptr<i4_socket> again(protocol->listen(port, 0, kSocketStream, nullptr));
    EXPECT_NE(nullptr, again);
}

TEST(UdpSocket, SendReceiveAndBusyPortFailsTheBind) {
    auto protocol = support::loopback_protocol();
    std::unique_ptr<i4_socket> first(protocol->listen(0, 0, kSocketDatagram, nullptr));
    ASSERT_NE(nullptr, first);
    std::unique_ptr<i4_tcpip_address> local(first->localAddress());
    int port = local->port();

    // A second socket must not share (and steal) the port.
    EXPECT_EQ(nullptr, protocol->listen(port, 0, kSocketDatagram, nullptr));

    std::unique_ptr<i4_socket> second(protocol->listen(0, 0, kSocketDatagram, nullptr));
    ASSERT_NE(nullptr, second);
    auto target = loopback_address(port);
    EXPECT_EQ(3, second->sendTo("abc", 3, target.get()));
    ASSERT_EQ(kReadable, first->waitUntil(kReadable, 2000, nullptr));
    char buffer[8];
    i4_address* from = nullptr;
    EXPECT_EQ(3, first->receiveFrom(buffer, sizeof(buffer), &from));
    std::unique_ptr<i4_address> sender(from);
    ASSERT_NE(nullptr, sender);
    std::unique_ptr<i4_tcpip_address> secondLocal(second->localAddress());
    EXPECT_EQ(secondLocal->port(), sender->port());

    first->setBlocking(false);
    from = nullptr;
    EXPECT_EQ(0, first->receiveFrom(buffer, sizeof(buffer), &from));  // nothing waiting
    EXPECT_EQ(nullptr, from);
}

TEST(UdpSocket, IcmpErrorIsDrainedQuietly) {
    auto protocol = support::loopback_protocol();
    int closedPort;
    {
        std::unique_ptr<i4_socket> gone(protocol->listen(0, 0, kSocketDatagram, nullptr));
        ASSERT_NE(nullptr, gone);
        std::unique_ptr<i4_tcpip_address> local(gone->localAddress());
        closedPort = local->port();
    }
    std::unique_ptr<i4_socket> sender(protocol->listen(0, 0, kSocketDatagram, nullptr));
    ASSERT_NE(nullptr, sender);
    sender->setBlocking(false);
    auto target = loopback_address(closedPort);
    std::unique_ptr<i4_socket_set> set(protocol->newSocketSet());
    sender->addToSet(set.get(), kReadable | kReadyError);

    testing::internal::CaptureStderr();
    support::DebugCapture capture;
    int errors = 0;
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(3, sender->sendTo("abc", 3, target.get()));
        ASSERT_GT(set->wait(2000), 0);
        if (sender->checkInSet(set.get(), kReadable | kReadyError) & kReadyError) errors++;
    }
    // Each queued error was taken off the queue: nothing is left pending.
    EXPECT_EQ(0, set->wait(50));
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(3, errors);
    EXPECT_EQ("", printed);
    EXPECT_EQ("", capture.text());
}

TEST(Resolve, DottedTextsNamesAndProxyNames) {
    auto protocol = support::loopback_protocol();
    std::unique_ptr<i4_address> dotted(protocol->resolve("127.0.0.1"));
    ASSERT_NE(nullptr, dotted);
    EXPECT_TRUE(dotted->equals(loopback_address(0).get()));
    EXPECT_EQ(0, dotted->port());
    std::unique_ptr<i4_address> named(protocol->resolve("localhost"));
    ASSERT_NE(nullptr, named);
    EXPECT_TRUE(named->equals(loopback_address(0).get()));
    EXPECT_EQ(nullptr, protocol->resolve(std::string(300, 'a').c_str()));
    EXPECT_EQ(nullptr, protocol->resolve(""));
    EXPECT_EQ(nullptr, protocol->resolve(nullptr));

    // A name kept for a proxy is not connected to without one (its address
    // is 0.0.0.0, which would reach this host).
    i4_proxy_address unresolved("files.example", 80);
    EXPECT_EQ(nullptr, protocol->connect(&unresolved, kSocketStream, false));
}

}  // namespace
