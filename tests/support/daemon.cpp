#include "support/daemon.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "overlay/gateway/flock_self.h"
#include "support/files.h"
#include "support/loopback.h"

extern char** environ;

namespace support {

namespace {

// One byte of this file per port number is locked (open-file-description
// locks) while a lease on that port is held, by any process.
constexpr const char* kLeaseLockFile = "/tmp/tandrel-test-ports.lock";
// Above the ports a client picks for its overlay when none is saved, which
// it binds without asking anyone.
constexpr int kLowestLeasedPort = kRandomPortBase + kRandomPortRange;
constexpr int kWaitStepMs = 20;
constexpr int kListenWaitMs = 10000;

// The range the OS chooses ports from; [32768, 60999] when unknown.
void ephemeral_range(int* low, int* high) {
    *low = 32768;
    *high = 60999;
    std::ifstream in("/proc/sys/net/ipv4/ip_local_port_range");
    int a = 0, b = 0;
    if (in >> a >> b && a > 0 && b >= a) {
        *low = a;
        *high = b;
    }
}

// Whether the port can be bound for the type on every local address
// (which also fails while anything is bound to 127.0.0.1:port).
bool bindable(int type, int port) {
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int on = 1;
    if (type == SOCK_STREAM) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

bool lock_port_byte(int fd, int port, short type) {
    struct flock lock;
    std::memset(&lock, 0, sizeof(lock));
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = port;
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

std::string substituted(std::string text, const std::string& dir, int port) {
    const std::pair<std::string, std::string> marks[] = {{"@DIR@", dir}, {"@PORT@", std::to_string(port)}};
    for (const auto& [mark, value] : marks) {
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
            text.replace(at, mark.size(), value);
    }
    return text;
}

}  // namespace

PortLease::PortLease() {
    lockFd_ = ::open(kLeaseLockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd_ < 0) return;
    int low, high;
    ephemeral_range(&low, &high);
    int first = kLowestLeasedPort, last = low - 1;
    if (last - first < 1000) {
        first = high + 1;
        last = 65535;
    }
    std::random_device seed;
    std::mt19937 random(seed());
    int span = last - first + 1;
    int start = static_cast<int>(random() % static_cast<unsigned>(span));
    for (int i = 0; i < span && port_ == 0; i++) {
        int candidate = first + (start + i) % span;
        if (!lock_port_byte(lockFd_, candidate, F_WRLCK)) continue;
        if (bindable(SOCK_STREAM, candidate) && bindable(SOCK_DGRAM, candidate)) {
            port_ = candidate;
        } else {
            lock_port_byte(lockFd_, candidate, F_UNLCK);
        }
    }
}

PortLease::~PortLease() { release(); }

void PortLease::release() {
    if (lockFd_ >= 0) ::close(lockFd_);  // drops the lock with the description
    lockFd_ = -1;
}

bool accepts_connections(int port) {
    int fd = raw_connect(port);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

std::string find_program(const char* name) {
    const char* dirs[] = {"/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/sbin", "/usr/local/bin"};
    for (const char* dir : dirs) {
        std::string path = std::string(dir) + "/" + name;
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

std::unique_ptr<Daemon> Daemon::start(const Setup& setup, int attempts) {
    std::unique_ptr<Daemon> daemon(new Daemon());
    for (int i = 0; i < attempts && !daemon->ready_; i++) {
        PortLease lease;
        if (lease.port() == 0) break;
        if (!daemon->run(setup, lease.port())) {
            daemon->earlierLogs_ = daemon->log();
            daemon->stop();
        }
    }
    return daemon;
}

bool Daemon::run(const Setup& setup, int port) {
    port_ = port;
    if (!dir_.ok()) return false;
    write_file(dir_ / setup.configName, substituted(setup.config, dir_.path(), port));
    std::vector<std::string> args{setup.program};
    for (const std::string& a : setup.args) args.push_back(substituted(a, dir_.path(), port));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string logPath = dir_ / "log";
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    if (posix_spawn(&pid_, setup.program.c_str(), &actions, &attributes, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);

    for (int waited = 0; pid_ > 0 && waited < kListenWaitMs; waited += kWaitStepMs) {
        if (accepts_connections(port)) {
            ready_ = true;
            return true;
        }
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;  // ended without listening (e.g. the port was taken)
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitStepMs));
    }
    return false;
}

void Daemon::stop() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGTERM);
        int status;
        ::waitpid(pid_, &status, 0);
        ::kill(-pid_, SIGKILL);  // children that outlived their parent
    }
    pid_ = -1;
}

Daemon::~Daemon() { stop(); }

std::string Daemon::log() const {
    std::ifstream in(dir_ / "log");
    return earlierLogs_ + std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace support
