// Closing a socket from another thread while a call waits on it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "support/loopback.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs call on a thread, closes the socket once the call is under way and
// checks that the call returns promptly and the descriptor is closed once.
template <typename Call>
void close_while_blocked(i4_tcpip_sock* socket, Call call) {
    int descriptor = socket->descriptor();
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        call();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned.load());
    Clock::time_point closing = Clock::now();
    EXPECT_TRUE(socket->close());
    waiter.join();
    EXPECT_LT(Clock::now() - closing, std::chrono::seconds(2));
    EXPECT_FALSE(socket->close());
    EXPECT_EQ(-1, fcntl(descriptor, F_GETFD));

    // A new descriptor takes the freed number; the socket must not close it.
    int reused = dup2(2, descriptor);
    ASSERT_EQ(descriptor, reused);
    delete socket;
    EXPECT_NE(-1, fcntl(reused, F_GETFD));
    ::close(reused);
}

TEST(SocketCancel, CloseEndsAcceptOnAnotherThread) {
    auto protocol = support::loopback_protocol();
    auto* listener = static_cast<i4_tcpip_sock*>(protocol->listen(0, 0, kSocketStream, nullptr));
    ASSERT_NE(nullptr, listener);
    bool accepted = true;
    close_while_blocked(listener, [&] {
        i4_socket* out = nullptr;
        accepted = listener->accept(&out);
        delete out;
    });
    EXPECT_FALSE(accepted);
}

TEST(SocketCancel, CloseEndsWaitOnAnotherThread) {
    auto protocol = support::loopback_protocol();
    support::Listener listener;
    auto target = support::loopback_address(listener.port());
    auto* client = static_cast<i4_tcpip_sock*>(protocol->connect(target.get(), kSocketStream, true));
    ASSERT_NE(nullptr, client);
    int result = -1;
    close_while_blocked(client, [&] { result = client->waitUntil(kReadable, 10000, nullptr); });
    EXPECT_EQ(0, result);
}

TEST(SocketCancel, CloseEndsDatagramWaitOnAnotherThread) {
    auto protocol = support::loopback_protocol();
    auto* socket = static_cast<i4_tcpip_sock*>(protocol->listen(0, 0, kSocketDatagram, nullptr));
    ASSERT_NE(nullptr, socket);
    int result = -1;
    close_while_blocked(socket, [&] { result = socket->waitUntil(kReadable, 10000, nullptr); });
    EXPECT_EQ(0, result);
}

void ignore_signal(int) {}

// A signal caught by the waiting thread is no time-out: the wait goes on and
// sees the byte that comes afterwards.
TEST(SocketWait, CaughtSignalsDoNotEndAWait) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = ignore_signal;  // poll is never restarted anyway
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(0, sigaction(SIGUSR1, &action, &previous));

    auto protocol = support::loopback_protocol();
    support::Listener listener;
    auto target = support::loopback_address(listener.port());
    std::unique_ptr<i4_socket> client(protocol->connect(target.get(), kSocketStream, true));
    ASSERT_NE(nullptr, client);
    i4_socket* accepted = nullptr;
    ASSERT_TRUE(listener.socket()->accept(&accepted));
    std::unique_ptr<i4_socket> server(accepted);

    std::atomic<bool> returned{false};
    int result = -1;
    std::thread waiter([&] {
        result = server->waitUntil(kReadable, 10000, nullptr);
        returned = true;
    });
    for (int i = 0; i < 40 && !returned.load(); i++) {
        pthread_kill(waiter.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(returned.load());
    EXPECT_EQ(1, client->write("x", 1));
    waiter.join();
    EXPECT_EQ(kReadable, result);
    sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace
