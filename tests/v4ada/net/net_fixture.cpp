#include "v4ada/net/net_fixture.h"

#include <arpa/inet.h>

#include "v4ada/file/debug_file.h"
#include "v4ada/memory/malloc4.h"

namespace nettest {

std::unique_ptr<i4_tcpip_address> loopback(int port) {
    const uint8_t ip[4] = {127, 0, 0, 1};
    return std::make_unique<i4_tcpip_address>(ip, port);
}

i4_tcpip_protocol* loopback_protocol(const ProxySettings* settings) {
    i4_tcpip_protocol* protocol = i4_tcpip_protocol::create(0, settings);
    protocol->setBindAddress(htonl(INADDR_LOOPBACK));
    return protocol;
}

std::unique_ptr<i4_tcpip_protocol> proxied_protocol(int type, int port, const char* user, const char* password) {
    ProxySettings settings;
    settings.type = type;
    settings.setHost("127.0.0.1");
    settings.port = port;
    settings.setUser(user);
    settings.setPassword(password);
    return std::unique_ptr<i4_tcpip_protocol>(loopback_protocol(&settings));
}

Listener::Listener() : protocol_(loopback_protocol(nullptr)) {
    socket_.reset(protocol_->listen(0, 0, kSocketStream, nullptr));
    if (socket_) {
        std::unique_ptr<i4_tcpip_address> local(socket_->localAddress());
        port_ = local->port();
    }
}

DebugCapture::DebugCapture() : previous_(debug_output()) { set_debug_output(&file_); }

DebugCapture::~DebugCapture() {
    set_debug_output(previous_);
    i4_free(file_.data());
}

std::string DebugCapture::text() {
    return std::string(reinterpret_cast<const char*>(file_.data()), file_.size());
}

}  // namespace nettest

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace nettest {

int raw_listen(int* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

namespace {

// Waits for fd to be readable, or for the stop pipe; false on stop/time-out.
bool wait_readable(int fd, int stop, int ms) {
    pollfd entries[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
    int n = poll(entries, 2, ms);
    return n > 0 && (entries[0].revents & (POLLIN | POLLHUP | POLLERR)) && !(entries[1].revents & POLLIN);
}

void echo_until_closed(int fd, int stop) {
    char buffer[4096];
    while (wait_readable(fd, stop, 5000)) {
        ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) break;
        if (::send(fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
    }
}

}  // namespace

ScriptedPeer::ScriptedPeer(std::vector<Step> steps, bool echo) : steps_(std::move(steps)), echo_(echo) {
    listener_ = raw_listen(&port_);
    if (pipe(stopPipe_) != 0) stopPipe_[0] = stopPipe_[1] = -1;
    thread_ = std::thread([this] { run(); });
}

ScriptedPeer::~ScriptedPeer() {
    finish();
    ::close(listener_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

std::string ScriptedPeer::finish() {
    if (thread_.joinable()) {
        if (write(stopPipe_[1], "s", 1) != 1) problem_ += "stop failed; ";
        thread_.join();
    }
    return problem_;
}

void ScriptedPeer::run() {
    if (!wait_readable(listener_, stopPipe_[0], 5000)) return;
    int fd = accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    connected_ = true;
    for (const Step& step : steps_) {
        if (step.kind == Step::kExpect) {
            std::string got;
            char buffer[1024];
            while (got.size() < step.bytes.size() && wait_readable(fd, stopPipe_[0], 5000)) {
                ssize_t n = recv(fd, buffer, std::min(sizeof(buffer), step.bytes.size() - got.size()), 0);
                if (n <= 0) break;
                got.append(buffer, static_cast<size_t>(n));
            }
            if (got != step.bytes) {
                problem_ += "expected [" + step.bytes + "] got [" + got + "]";
                break;
            }
        } else if (step.kind == Step::kSend) {
            if (::send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(step.bytes.size())) {
                problem_ += "send failed; ";
                break;
            }
        } else if (step.kind == Step::kPause) {
            std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
        } else {
            ::close(fd);
            return;
        }
    }
    if (echo_ && problem_.empty()) {
        echo_until_closed(fd, stopPipe_[0]);
    } else {
        // Hold the connection until the test is done with it.
        char buffer[256];
        while (wait_readable(fd, stopPipe_[0], 5000) && recv(fd, buffer, sizeof(buffer), 0) > 0) {
        }
    }
    ::close(fd);
}

EchoServer::EchoServer() {
    listener_ = raw_listen(&port_);
    if (pipe(stopPipe_) != 0) stopPipe_[0] = stopPipe_[1] = -1;
    thread_ = std::thread([this] {
        while (wait_readable(listener_, stopPipe_[0], 30000)) {
            int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) break;
            echo_until_closed(fd, stopPipe_[0]);
            ::close(fd);
        }
    });
}

EchoServer::~EchoServer() {
    if (write(stopPipe_[1], "s", 1) != 1) {
    }
    thread_.join();
    ::close(listener_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

}  // namespace nettest
