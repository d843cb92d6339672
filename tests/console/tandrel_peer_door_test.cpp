// A scripted peer talks to a running tandrel on its door port.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <sstream>
#include <vector>

#include "console/tandrel_process_fixture.h"
#include "core/meta/special_tags.h"
#include "support/loopback.h"
#include "support/peer_fakes.h"
#include "support/peer_wire.h"
#include "support/process_objects.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"

namespace {

constexpr int kWaitMs = 20000;

TEST_F(TandrelTest, ScriptedPeerIsAnsweredOnTheDoorPort) {
    // The record names the scripted user's tags need.
    support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
    const int port = doorLease_.port();
    // The argument runs once start-up (and the door) is done.
    ASSERT_TRUE(process_.start(dir_, {"echo door open"}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(process_.waitFor("door open", kWaitMs)) << process_.out();

    support::FrameClient peer(support::raw_connect(port));
    UserMeta user = support::makeUser("scripted", 0, 40000, 77);
    peer.send(ICLT_HELLO, support::helloPayload(user, 0, 0, true, true));
    ASSERT_TRUE(peer.awaitFrames(1, kWaitMs));
    EXPECT_EQ(peer.frames[0].opcode, ICLT_HELLO_ANSWER);
    EXPECT_TRUE(support::codeVerifies(ICLT_HELLO_ANSWER, peer.frames[0].payload, port));

    peer.send(ICLT_PING, "");
    ASSERT_TRUE(peer.awaitFrames(2, kWaitMs));
    EXPECT_EQ(peer.frames[1].opcode, ICLT_PONG);

    // Nothing is shared yet.
    std::string hash = support::hashBytes(support::hashOf(5));
    peer.send(ICLT_FILE_STATUS_REQUEST, hash);
    ASSERT_TRUE(peer.awaitFrames(3, kWaitMs));
    EXPECT_EQ(peer.frames[2].opcode, ICLT_NO_SUCH_FILE);
    EXPECT_EQ(peer.frames[2].payload, hash);

    process_.write("q\ny\n");
    process_.closeInput();
    ASSERT_TRUE(process_.waitExit(kWaitMs));
    EXPECT_EQ(process_.status(), 0);
    std::string pref = readFile("pref.met");
    EXPECT_NE(pref.find("doorPort"), std::string::npos);
    EXPECT_NE(pref.find("resHD"), std::string::npos);
}

TEST_F(TandrelTest, APeerNamingThousandsOfDirectoriesUnderManyUsersWritesAHandfulOfLogLines) {
    support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
    const int port = doorLease_.port();
    ASSERT_TRUE(process_.start(dir_, {"echo door open"}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(process_.waitFor("door open", kWaitMs)) << process_.out();

    // A peer says hello under the user hash given, then sends its requests
    // and a ping; the pong comes after every request was handled.
    auto talk = [&](uint8_t hashByte, const std::function<void(support::FrameClient&)>& requests) {
        support::FrameClient peer(support::raw_connect(port));
        UserMeta user = support::makeUser("flooder", 0, 40000, hashByte);
        peer.send(ICLT_HELLO, support::helloPayload(user, 0, 0, true, true));
        ASSERT_TRUE(peer.awaitFrames(1, kWaitMs));
        requests(peer);
        peer.send(ICLT_PING, "");
        ASSERT_TRUE(peer.awaitFrames(2, kWaitMs));
        EXPECT_EQ(peer.frames.back().opcode, ICLT_PONG) << static_cast<int>(hashByte);
    };
    // Nothing is shared: the files requests draw no reply. One address
    // comes back again and again, each time a new user.
    int named = 0;
    for (int connection = 0; connection < 200; connection++) {
        talk(static_cast<uint8_t>(connection), [&](support::FrameClient& peer) {
            for (int i = 0; i < 10; i++) {
                std::string name = "/made-up " + std::to_string(named++);
                peer.send(ICLT_DIRECTORY_FILES_REQUEST, support::le16s(static_cast<uint16_t>(name.size())) + name);
            }
        });
    }

    process_.write("q\ny\n");
    process_.closeInput();
    ASSERT_TRUE(process_.waitExit(kWaitMs));
    std::vector<std::string> lines;
    std::istringstream log(readFile("log.txt"));
    for (std::string line; std::getline(log, line);)
        if (line.find("]: Sending Shared") != std::string::npos) lines.push_back(line.substr(line.find("]: ") + 3));
    ASSERT_EQ(lines.size(), static_cast<size_t>(ClientPool::kDirectoryLogLinesPerPeer));
    EXPECT_EQ(lines.front(), "Sending Shared File List (/made-up 0): flooder");
}

// Starts a connection to 127.0.0.1:port without waiting for it; -1 when
// no socket could be had.
int start_connect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    return fd;
}

// Waits (at most limitMs) until every connect in fds has completed or
// failed; those still under way then are closed and dropped from fds.
void settle_connects(std::vector<int>& fds, int limitMs) {
    std::vector<pollfd> pending;
    for (int fd : fds) pending.push_back({fd, POLLOUT, 0});
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!pending.empty() && std::chrono::steady_clock::now() < until) {
        if (::poll(pending.data(), pending.size(), 100) < 0 && errno != EINTR) break;
        std::vector<pollfd> left;
        for (const pollfd& p : pending)
            if (p.revents == 0) left.push_back({p.fd, POLLOUT, 0});
        pending.swap(left);
    }
    for (const pollfd& p : pending) {
        ::close(p.fd);
        fds.erase(std::find(fds.begin(), fds.end(), p.fd));
    }
}

TEST_F(TandrelTest, HelloIsAnsweredAfterAFloodOfSilentConnectionsFromItsAddress) {
    support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
    const int port = doorLease_.port();
    ASSERT_TRUE(process_.start(dir_, {"echo door open"}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(process_.waitFor("door open", kWaitMs)) << process_.out();

    // 2,000 connections that never say a word (fewer only when this
    // process may not open that many descriptors).
    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    files.rlim_cur = std::max(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 4096));
    setrlimit(RLIMIT_NOFILE, &files);
    const int flood = static_cast<int>(std::min<rlim_t>(2000, files.rlim_cur - 200));
    std::vector<int> silent;
    for (int i = 0; i < flood; i++) {
        int fd = start_connect(port);
        if (fd >= 0) silent.push_back(fd);
    }
    EXPECT_GE(silent.size(), 1000u);
    // A connect the full listen queue dropped is tried again by the kernel
    // a second or more later, and would arrive behind the real peer. Each
    // is settled first: those still connecting after a while are given up
    // (closing one ends its retries); the established stay silent.
    settle_connects(silent, 10000);

    // The time-out only guards against a hang.
    support::FrameClient peer(support::raw_connect(port));
    UserMeta user = support::makeUser("late", 0, 40000, 78);
    peer.send(ICLT_HELLO, support::helloPayload(user, 0, 0, true, true));
    ASSERT_TRUE(peer.awaitFrames(1, 120000)) << "closed: " << peer.closed;
    EXPECT_EQ(peer.frames[0].opcode, ICLT_HELLO_ANSWER);
    for (int fd : silent) ::close(fd);

    process_.write("q\ny\n");
    process_.closeInput();
    ASSERT_TRUE(process_.waitExit(kWaitMs));
    EXPECT_EQ(process_.status(), 0);
}

}  // namespace
