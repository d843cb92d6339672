// Connections through real proxy daemons started on 127.0.0.1 for the test:
// tinyproxy (HTTP CONNECT with Basic authorisation) and dante-server
// (SOCKS4 and SOCKS5). A test whose daemon is not installed is skipped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "support/daemon.h"
#include "support/loopback.h"
#include "support/loopback_peers.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/proxy_settings.h"
#include "v4ada/net/ready_flags.h"

namespace {

using support::Daemon;

// Connects to host:port through the protocol and checks an echo round trip.
void expect_echo(i4_protocol* protocol, const char* host, int port, const std::string& log) {
    std::unique_ptr<i4_address> target(protocol->resolve(host));
    ASSERT_NE(nullptr, target);
    target->setPort(port);
    std::unique_ptr<i4_socket> socket(protocol->connect(target.get(), kSocketStream, true));
    ASSERT_NE(nullptr, socket) << log;
    EXPECT_EQ(5, socket->write("hello", 5));
    std::string got;
    char buffer[16];
    while (got.size() < 5 && socket->waitUntil(kReadable, 3000, nullptr) == kReadable) {
        int n = socket->read(buffer, sizeof(buffer));
        if (n <= 0) break;
        got.append(buffer, n);
    }
    EXPECT_EQ("hello", got) << log;
}

TEST(RealProxy, TinyproxyConnectWithBasicAuthorisation) {
    std::string program = support::find_program("tinyproxy");
    if (program.empty()) GTEST_SKIP() << "tinyproxy is not installed (Debian package tinyproxy)";
    support::EchoServer echo;
    std::string config =
        "Port @PORT@\nListen 127.0.0.1\nTimeout 30\nMaxClients 4\nAllow 127.0.0.1\n"
        "BasicAuth alice s3cret\nLogLevel Info\nPidFile \"@DIR@/pid\"\n";
    auto daemon = Daemon::start({program, "tinyproxy.conf", config, {"-d", "-c", "@DIR@/tinyproxy.conf"}});
    ASSERT_TRUE(daemon->ready()) << daemon->log();
    int port = daemon->port();

    auto protocol = support::proxied_protocol(kProxyHttp, port, "alice", "s3cret");
    expect_echo(protocol.get(), "127.0.0.1", echo.port(), daemon->log());

    auto wrong = support::proxied_protocol(kProxyHttp, port, "alice", "wrong");
    std::unique_ptr<i4_address> target(wrong->resolve("127.0.0.1"));
    target->setPort(echo.port());
    EXPECT_EQ(nullptr, wrong->connect(target.get(), kSocketStream, true));
}

std::string dante_config() {
    std::string config = "logoutput: stderr\ninternal: 127.0.0.1 port = @PORT@\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n";
    if (getuid() == 0) config += "user.privileged: root\nuser.unprivileged: nobody\n";
    config +=
        "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
        "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 }\n";
    return config;
}

TEST(RealProxy, DanteSocks4AndSocks5) {
    std::string program = support::find_program("danted");
    if (program.empty()) GTEST_SKIP() << "danted is not installed (Debian package dante-server)";
    support::EchoServer echo;
    auto daemon =
        Daemon::start({program, "danted.conf", dante_config(), {"-f", "@DIR@/danted.conf", "-p", "@DIR@/pid", "-N", "1"}});
    ASSERT_TRUE(daemon->ready()) << daemon->log();
    int port = daemon->port();

    auto socks4 = support::proxied_protocol(kProxySocks4, port, nullptr, nullptr);
    expect_echo(socks4.get(), "127.0.0.1", echo.port(), daemon->log());

    // SOCKS5 with the target given by name, resolved by the proxy.
    auto socks5 = support::proxied_protocol(kProxySocks5, port, nullptr, nullptr);
    expect_echo(socks5.get(), "localhost", echo.port(), daemon->log());

    // A target the proxy cannot reach fails the handshake.
    std::unique_ptr<i4_address> closed(socks5->resolve("127.0.0.1"));
    int refusing = 0;
    int refusingFd = support::raw_refusing_tcp(&refusing);
    ASSERT_GE(refusingFd, 0);
    closed->setPort(refusing);
    EXPECT_EQ(nullptr, socks5->connect(closed.get(), kSocketStream, true));
    ::close(refusingFd);
}

}  // namespace
