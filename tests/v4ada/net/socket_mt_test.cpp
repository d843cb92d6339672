// Closing a socket from another thread while a call waits on it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "support/loopback.h"
#include "support/thread_probe.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket.h"
#include "v4ada/threads/linux/counting_signal.h"

namespace {

// Runs call on a thread, closes the socket once the thread is blocked in
// one of the system calls, and checks that the call returns (a call that
// close did not wake would wait without limit) and that the descriptor is
// closed once.
template <typename Call>
void close_while_blocked(i4_tcpip_sock* socket, const std::vector<long>& syscalls, Call call) {
    int descriptor = socket->descriptor();
    std::atomic<pid_t> id{0};
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        id = support::this_thread_id();
        call();
        returned = true;
    });
    ASSERT_TRUE(support::wait_until_blocked_in(id, syscalls));
    EXPECT_FALSE(returned.load());
    EXPECT_TRUE(socket->close());
    waiter.join();
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
    close_while_blocked(listener, {SYS_accept, SYS_accept4}, [&] {
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
    close_while_blocked(client, support::poll_waits(), [&] { result = client->waitUntil(kReadable, -1, nullptr); });
    EXPECT_EQ(0, result);
}

TEST(SocketCancel, CloseEndsDatagramWaitOnAnotherThread) {
    auto protocol = support::loopback_protocol();
    auto* socket = static_cast<i4_tcpip_sock*>(protocol->listen(0, 0, kSocketDatagram, nullptr));
    ASSERT_NE(nullptr, socket);
    int result = -1;
    close_while_blocked(socket, support::poll_waits(), [&] { result = socket->waitUntil(kReadable, -1, nullptr); });
    EXPECT_EQ(0, result);
}

// Tells the test when the waiting thread is inside its call, then holds it
// there until the socket is closed.
class InsideProgress : public i4_progress {
public:
    void update(float) override {
        inside.signal();
        closed.wait(0);
        callbackDone = true;
    }
    CountingSignal inside, closed;
    std::atomic<bool> callbackDone{false};
};

// Close and delete from one thread while another is inside a call: the
// delete waits until that thread has left the socket (ASan/TSan see any
// access to the freed object).
TEST(SocketCancel, CloseAndDeleteWhileAnotherThreadIsInsideACall) {
    auto protocol = support::loopback_protocol();
    for (int kind : {kSocketStream, kSocketDatagram}) {
        std::unique_ptr<i4_socket> listener(protocol->listen(0, 0, kind, nullptr));
        ASSERT_NE(nullptr, listener);
        InsideProgress progress;
        std::thread waiter([&] { listener->waitUntil(kReadable, 60000, &progress); });
        ASSERT_TRUE(progress.inside.wait(30000));
        listener->close();
        progress.closed.signal();
        listener.reset();
        EXPECT_TRUE(progress.callbackDone.load()) << kind;
        waiter.join();
    }
    // Delete alone (without close) ends a thread blocked in a wait too.
    for (int kind : {kSocketStream, kSocketDatagram}) {
        auto* socket = protocol->listen(0, 0, kind, nullptr);
        ASSERT_NE(nullptr, socket);
        std::atomic<pid_t> id{0};
        std::thread waiter([&] {
            id = support::this_thread_id();
            socket->waitUntil(kReadable, -1, nullptr);
        });
        ASSERT_TRUE(support::wait_until_blocked_in(id, support::poll_waits()));
        delete socket;
        waiter.join();
    }
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

    std::atomic<pid_t> id{0};
    std::atomic<bool> returned{false};
    int result = -1;
    std::thread waiter([&] {
        id = support::this_thread_id();
        result = server->waitUntil(kReadable, -1, nullptr);
        returned = true;
    });
    // Each signal lands while the thread is blocked in the poll.
    for (int i = 0; i < 10 && !returned.load(); i++) {
        ASSERT_TRUE(support::wait_until_blocked_in(id, support::poll_waits()));
        pthread_kill(waiter.native_handle(), SIGUSR1);
    }
    ASSERT_TRUE(support::wait_until_blocked_in(id, support::poll_waits()));
    EXPECT_FALSE(returned.load());
    EXPECT_EQ(1, client->write("x", 1));
    waiter.join();
    EXPECT_EQ(kReadable, result);
    sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace
