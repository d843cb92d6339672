#include "support/loopback_peers.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "support/loopback.h"

namespace support {

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
    if (pipe2(stopPipe_, O_CLOEXEC) != 0) stopPipe_[0] = stopPipe_[1] = -1;
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
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
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
    if (pipe2(stopPipe_, O_CLOEXEC) != 0) stopPipe_[0] = stopPipe_[1] = -1;
    thread_ = std::thread([this] {
        while (wait_readable(listener_, stopPipe_[0], 30000)) {
            int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
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

}  // namespace support
