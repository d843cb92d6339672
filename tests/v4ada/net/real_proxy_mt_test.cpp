// Connections through real proxy daemons started on 127.0.0.1 for the test:
// tinyproxy (HTTP CONNECT with Basic authorisation) and dante-server
// (SOCKS4 and SOCKS5). A test whose daemon is not installed is skipped.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "v4ada/net/net_fixture.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/proxy_settings.h"
#include "v4ada/net/ready_flags.h"

extern char** environ;

namespace {

std::string find_program(const char* name) {
    const char* dirs[] = {"/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/sbin", "/usr/local/bin"};
    for (const char* dir : dirs) {
        std::string path = std::string(dir) + "/" + name;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

// A port the OS just handed out on 127.0.0.1 and took back.
int free_port() {
    int port = 0;
    int fd = nettest::raw_listen(&port);
    ::close(fd);
    return port;
}

bool accepts_connections(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

// A daemon run in the foreground in its own process group, with its config
// and log in a temporary directory; stopped with its group at the end.
class Daemon {
public:
    Daemon(const std::string& program, const std::string& configName, const std::string& config,
           std::vector<std::string> arguments, int port) {
        char pattern[] = "/tmp/tandrel-proxy-XXXXXX";
        dir_ = mkdtemp(pattern) ? pattern : "";
        std::string configPath = dir_ + "/" + configName;
        std::string text = config;
        size_t at;
        while ((at = text.find("@DIR@")) != std::string::npos) text.replace(at, 5, dir_);
        std::ofstream(configPath) << text;
        std::vector<std::string> args{program};
        for (std::string& a : arguments) {
            while ((at = a.find("@DIR@")) != std::string::npos) a.replace(at, 5, dir_);
            args.push_back(a);
        }
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        std::string log = dir_ + "/log";
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        if (posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        for (int i = 0; pid_ > 0 && i < 250 && !ready_; i++) {
            ready_ = accepts_connections(port);
            if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~Daemon() {
        if (pid_ > 0) {
            kill(-pid_, SIGTERM);
            int status;
            waitpid(pid_, &status, 0);
            kill(-pid_, SIGKILL);  // children that outlived their parent
        }
        for (const char* name : {"/log", "/tinyproxy.conf", "/danted.conf", "/pid"}) unlink((dir_ + name).c_str());
        rmdir(dir_.c_str());
    }
    bool ready() const { return ready_; }
    std::string log() const {
        std::ifstream in(dir_ + "/log");
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string dir_;
    pid_t pid_ = -1;
    bool ready_ = false;
};


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
    std::string program = find_program("tinyproxy");
    if (program.empty()) GTEST_SKIP() << "tinyproxy is not installed (Debian package tinyproxy)";
    nettest::EchoServer echo;
    int port = free_port();
    std::string config = "Port " + std::to_string(port) +
                         "\nListen 127.0.0.1\nTimeout 30\nMaxClients 4\nAllow 127.0.0.1\n"
                         "BasicAuth alice s3cret\nLogLevel Info\nPidFile \"@DIR@/pid\"\n";
    Daemon daemon(program, "tinyproxy.conf", config, {"-d", "-c", "@DIR@/tinyproxy.conf"}, port);
    ASSERT_TRUE(daemon.ready()) << daemon.log();

    auto protocol = nettest::proxied_protocol(kProxyHttp, port, "alice", "s3cret");
    expect_echo(protocol.get(), "127.0.0.1", echo.port(), daemon.log());

    auto wrong = nettest::proxied_protocol(kProxyHttp, port, "alice", "wrong");
    std::unique_ptr<i4_address> target(wrong->resolve("127.0.0.1"));
    target->setPort(echo.port());
    EXPECT_EQ(nullptr, wrong->connect(target.get(), kSocketStream, true));
}

std::string dante_config(int port) {
    std::string config = "logoutput: stderr\ninternal: 127.0.0.1 port = " + std::to_string(port) +
                         "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n";
    if (getuid() == 0) config += "user.privileged: root\nuser.unprivileged: nobody\n";
    config +=
        "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
        "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 }\n";
    return config;
}

TEST(RealProxy, DanteSocks4AndSocks5) {
    std::string program = find_program("danted");
    if (program.empty()) GTEST_SKIP() << "danted is not installed (Debian package dante-server)";
    nettest::EchoServer echo;
    int port = free_port();
    Daemon daemon(program, "danted.conf", dante_config(port), {"-f", "@DIR@/danted.conf", "-p", "@DIR@/pid", "-N", "1"},
                  port);
    ASSERT_TRUE(daemon.ready()) << daemon.log();

    auto socks4 = nettest::proxied_protocol(kProxySocks4, port, nullptr, nullptr);
    expect_echo(socks4.get(), "127.0.0.1", echo.port(), daemon.log());

    // SOCKS5 with the target given by name, resolved by the proxy.
    auto socks5 = nettest::proxied_protocol(kProxySocks5, port, nullptr, nullptr);
    expect_echo(socks5.get(), "localhost", echo.port(), daemon.log());

    // A target the proxy cannot reach fails the handshake.
    std::unique_ptr<i4_address> closed(socks5->resolve("127.0.0.1"));
    closed->setPort(free_port());
    EXPECT_EQ(nullptr, socks5->connect(closed.get(), kSocketStream, true));
}

}  // namespace
