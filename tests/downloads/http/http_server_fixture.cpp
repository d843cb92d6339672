#include "downloads/http/http_server_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "support/loopback.h"

namespace {

constexpr auto kDeadline = std::chrono::seconds(30);

using Clock = std::chrono::steady_clock;

// Whether fd has the events within 1 ms.
bool ready(int fd, short events) {
    pollfd entry{fd, events, 0};
    return ::poll(&entry, 1, 1) > 0;
}

}  // namespace

bool SourcePump::tick(int elapsedMs) {
    if (alive_) alive_ = source_->tick(elapsedMs);
    return alive_;
}

bool SourcePump::until(const std::function<bool()>& condition) {
    auto deadline = Clock::now() + kDeadline;
    while (Clock::now() < deadline) {
        if (condition()) return true;
        if (!tick()) return condition();
        std::this_thread::yield();
    }
    return false;
}

std::string http_request(const std::string& path, uint64_t first, uint64_t last, const std::string& host) {
    return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: Keep-Alive\r\nRange: bytes=" +
           std::to_string(first) + "-" + std::to_string(last) + "\r\n\r\n";
}

std::string test_content(uint64_t size) {
    std::string out(size, '\0');
    for (uint64_t i = 0; i < size; i++) out[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
    return out;
}

HttpTestServer::HttpTestServer() {
    listener_ = support::raw_listen(&port_);
    if (listener_ >= 0) ::fcntl(listener_, F_SETFL, ::fcntl(listener_, F_GETFL) | O_NONBLOCK);
}

HttpTestServer::~HttpTestServer() {
    closeConnection();
    if (listener_ >= 0) ::close(listener_);
}

std::string HttpTestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string HttpTestServer::withPort(std::string text) const {
    const std::string mark = "@PORT@";
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark))
        text.replace(at, mark.size(), std::to_string(port_));
    return text;
}

bool HttpTestServer::accept(SourcePump& pump) {
    closeConnection();
    auto deadline = Clock::now() + kDeadline;
    while (Clock::now() < deadline) {
        if (ready(listener_, POLLIN)) {
            connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (connection_ >= 0) return true;
        }
        if (!pump.tick()) return false;
    }
    return false;
}

std::string HttpTestServer::readRequest(SourcePump& pump) {
    auto deadline = Clock::now() + kDeadline;
    while (Clock::now() < deadline && connection_ >= 0) {
        size_t end = pending_.find("\r\n\r\n");
        if (end != std::string::npos) {
            std::string request = pending_.substr(0, end + 4);
            pending_.erase(0, end + 4);
            return request;
        }
        if (ready(connection_, POLLIN)) {
            char buffer[4096];
            ssize_t n = ::recv(connection_, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            pending_.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (!pump.tick()) break;
    }
    std::string partial = pending_;
    pending_.clear();
    return partial;
}

bool HttpTestServer::send(SourcePump& pump, const std::string& bytes) {
    size_t done = 0;
    auto deadline = Clock::now() + kDeadline;
    while (done < bytes.size() && connection_ >= 0 && Clock::now() < deadline) {
        ssize_t n = ::send(connection_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (!pump.tick()) return false;
        ready(connection_, POLLOUT);
    }
    return done == bytes.size();
}

void HttpTestServer::closeConnection() {
    if (connection_ >= 0) ::close(connection_);
    connection_ = -1;
    pending_.clear();
}

bool HttpTestServer::sourceClosed(SourcePump& pump) {
    auto deadline = Clock::now() + kDeadline;
    while (connection_ >= 0 && Clock::now() < deadline) {
        if (ready(connection_, POLLIN)) {
            char buffer[4096];
            ssize_t n = ::recv(connection_, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN)) return true;
            continue;
        }
        pump.tick();
    }
    return false;
}

i4_socket* HeldConnector::connect(const char* host, int port, HttpConnectAttempt& attempt,
                                  HttpConnectAttempt::Outcome* outcome) {
    {
        std::unique_lock<std::mutex> guard(lock_);
        lastHost = host;
        lastPort = port;
        entered_++;
        changed_.notify_all();
        changed_.wait(guard, [this] { return released_ || !hold; });
    }
    i4_socket* socket = nullptr;
    if (target == 0) {
        *outcome = HttpConnectAttempt::Outcome::kNoHost;
    } else {
        socket = connect_http_direct("127.0.0.1", target, attempt, outcome);
    }
    std::lock_guard<std::mutex> guard(lock_);
    returned_++;
    changed_.notify_all();
    return socket;
}

bool HeldConnector::waitEntered(int count) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, kDeadline, [&] { return entered_ >= count; });
}

void HeldConnector::release() {
    std::lock_guard<std::mutex> guard(lock_);
    released_ = true;
    changed_.notify_all();
}

bool HeldConnector::waitReturned(int count) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, kDeadline, [&] { return returned_ >= count; });
}
