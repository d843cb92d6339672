#include "v4ada/net/socket.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "v4ada/error/error.h"
#include "v4ada/net/address.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket_set.h"

long long net_monotonic_ms() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int socket_last_error() { return 0; }

namespace {

// Count of a recv/send-like call mapped to the socket result convention.
int map_transfer_result(ssize_t result) {
    if (result > 0) return static_cast<int>(result);
    if (result == 0) return -1;  // the peer closed the connection
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    return -1;
}

}  // namespace

i4_tcpip_sock::i4_tcpip_sock(int type) : type_(type) {
    descriptor_ = socket(AF_INET, type == kSocketStream ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (descriptor_ < 0) {
        createFailed_ = true;
        return;
    }
    int on = 1;
    setsockopt(descriptor_, IPPROTO_IP, IP_RECVERR, &on, sizeof(on));
}

i4_tcpip_sock::i4_tcpip_sock(int descriptor, int type) : descriptor_(descriptor), type_(type) {
    if (descriptor_ < 0) createFailed_ = true;
}

i4_tcpip_sock::~i4_tcpip_sock() {
    closeAndWait();
    if (descriptor_ >= 0 && !released_) ::close(descriptor_);
}

i4_tcpip_sock::CallScope::CallScope(i4_tcpip_sock* socket) : socket_(socket) {
    SysMutexGuard guard(&socket_->lock_);
    socket_->calls_++;
}

i4_tcpip_sock::CallScope::~CallScope() {
    SysMutexGuard guard(&socket_->lock_);
    if (--socket_->calls_ == 0) socket_->idle_.broadcast();
}

void i4_tcpip_sock::closeAndWait() {
    close();
    SysMutexGuard guard(&lock_);
    while (calls_ > 0) idle_.wait(&lock_);
}

int i4_tcpip_sock::releaseDescriptor() {
    SysMutexGuard guard(&lock_);
    int descriptor = (released_ || closed_.load()) ? -1 : descriptor_;
    if (descriptor >= 0) descriptor_ = -1;
    return descriptor;
}

bool i4_tcpip_sock::enter() {
    SysMutexGuard guard(&lock_);
    if (descriptor_ < 0 || closed_.load()) return false;
    users_++;
    return true;
}

void i4_tcpip_sock::leave() {
    SysMutexGuard guard(&lock_);
    users_--;
    if (users_ == 0 && closed_.load() && !released_) {
        ::close(descriptor_);
        released_ = true;
    }
}

bool i4_tcpip_sock::close() {
    SysMutexGuard guard(&lock_);
    if (descriptor_ < 0 || closed_.load()) return false;
    closed_.store(true);
    if (users_ > 0) {
        // A thread is inside a call: wake it; it closes the descriptor when
        // it leaves.
        shutdown(descriptor_, SHUT_RDWR);
    } else {
        ::close(descriptor_);
        released_ = true;
    }
    return true;
}

int i4_tcpip_sock::read(void* buffer, int n) {
    CallScope call(this);
    if (n <= 0) return 0;
    if (!enter()) return -1;
    int result = map_transfer_result(recv(descriptor_, buffer, static_cast<size_t>(n), 0));
    leave();
    return result;
}

int i4_tcpip_sock::write(const void* buffer, int n) {
    CallScope call(this);
    if (n <= 0) return 0;
    if (!enter()) return -1;
    int result = map_transfer_result(send(descriptor_, buffer, static_cast<size_t>(n), MSG_NOSIGNAL));
    leave();
    return result;
}

bool i4_tcpip_sock::accept(i4_socket** out) {
    CallScope call(this);
    *out = nullptr;
    if (!enter()) {
        debug_printf("accept canceled\n");
        return false;
    }
    int accepted;
    do {
        accepted = ::accept(descriptor_, nullptr, nullptr);
    } while (accepted < 0 && errno == EINTR && !closed_.load());
    leave();
    if (accepted < 0) return false;
    if (closed_.load()) {
        ::close(accepted);
        return false;
    }
    *out = new i4_tcpip_sock(accepted, type_);
    return true;
}

int i4_tcpip_sock::receiveFrom(void* buffer, int n, i4_address** from) {
    CallScope call(this);
    if (from != nullptr) *from = nullptr;
    if (n < 0) return -1;
    if (!enter()) return -1;
    sockaddr_in sender;
    socklen_t length = sizeof(sender);
    std::memset(&sender, 0, sizeof(sender));
    ssize_t result = recvfrom(descriptor_, buffer, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&sender),
                              &length);
    int saved = errno;
    leave();
    if (result < 0) return (saved == EAGAIN || saved == EWOULDBLOCK || saved == EINTR) ? 0 : -1;
    if (result > 0 && from != nullptr) *from = new i4_tcpip_address(sender);
    return static_cast<int>(result);
}

int i4_tcpip_sock::sendTo(const void* buffer, int n, const i4_address* to) {
    CallScope call(this);
    const auto* target = dynamic_cast<const i4_tcpip_address*>(to);
    if (target == nullptr || n < 0) return -1;
    if (!enter()) return -1;
    const sockaddr_in& address = target->socketAddress();
    ssize_t result = sendto(descriptor_, buffer, static_cast<size_t>(n), MSG_NOSIGNAL,
                            reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    int saved = errno;
    leave();
    if (result < 0) return (saved == EAGAIN || saved == EWOULDBLOCK || saved == EINTR) ? 0 : -1;
    return static_cast<int>(result);
}

int i4_tcpip_sock::connectTo(const i4_tcpip_address* address) {
    CallScope call(this);
    if (!enter()) return ECANCELED;
    const sockaddr_in& target = address->socketAddress();
    int result = ::connect(descriptor_, reinterpret_cast<const sockaddr*>(&target), sizeof(target));
    int saved = result == 0 ? 0 : errno;
    if (saved == EINTR) {
        // A blocking connect goes on in the background: wait for its end.
        pollfd entry{descriptor_, POLLOUT, 0};
        while (!closed_.load() && poll(&entry, 1, -1) < 0 && errno == EINTR) {
        }
        int error = 0;
        socklen_t length = sizeof(error);
        saved = getsockopt(descriptor_, SOL_SOCKET, SO_ERROR, &error, &length) == 0 ? error : errno;
    }
    leave();
    if (closed_.load() && saved == 0) saved = ECANCELED;
    return saved;
}

int i4_tcpip_sock::pollOnce(int flags, int timeoutMs) {
    if (!enter()) {
        debug_printf("select canceled\n");
        return 0;
    }
    pollfd entry{descriptor_, poll_events_from_flags(flags), 0};
    // A signal landing on this thread is no time-out: wait on for what is
    // left of the time (a close still ends the wait through the shutdown).
    long long start = net_monotonic_ms();
    int result;
    for (;;) {
        int wait = timeoutMs;
        if (timeoutMs > 0) {
            long long left = timeoutMs - (net_monotonic_ms() - start);
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        result = poll(&entry, 1, wait);
        if (result >= 0 || errno != EINTR || closed_.load()) break;
    }
    leave();
    if (result <= 0 || closed_.load()) return 0;
    return flags_from_poll_events(entry.revents);
}

int i4_tcpip_sock::waitUntil(int flags, int timeoutMs, i4_progress* progress) {
    CallScope call(this);
    if (progress == nullptr) return pollOnce(flags, timeoutMs);
    if (timeoutMs < 0) timeoutMs = 0;
    long long start = net_monotonic_ms();
    for (;;) {
        if (closed_.load()) {
            debug_printf("select canceled\n");
            return 0;
        }
        int step = timeoutMs < kProgressStepMs ? timeoutMs : kProgressStepMs;
        if (pollOnce(flags, step) != 0) return 1;
        long long elapsed = net_monotonic_ms() - start;
        if (elapsed > timeoutMs) elapsed = timeoutMs;
        progress->update(static_cast<float>(elapsed + 1) / static_cast<float>(timeoutMs + 1));
        if (elapsed >= timeoutMs) return 0;
    }
}

void i4_tcpip_sock::addToSet(i4_socket_set* set, int flags) {
    CallScope call(this);
    static_cast<linux_socket_set*>(set)->add(descriptor_, flags);
}

void i4_tcpip_sock::removeFromSet(i4_socket_set* set) {
    CallScope call(this);
    static_cast<linux_socket_set*>(set)->remove(descriptor_);
}

void i4_tcpip_sock::watchInSet(i4_socket_set* set, int flags) {
    CallScope call(this);
    static_cast<linux_socket_set*>(set)->watch(descriptor_, flags);
}

int i4_tcpip_sock::checkInSet(i4_socket_set* set, int flags) {
    CallScope call(this);
    int ready = static_cast<linux_socket_set*>(set)->check(descriptor_, flags);
    if ((ready & kReadyError) && type_ != kSocketStream) drainErrorQueue();
    return ready;
}

void i4_tcpip_sock::drainErrorQueue() {
    CallScope call(this);
    if (!enter()) return;
    for (int i = 0; i < kErrorQueueDrainLimit; i++) {
        char data[8192];
        sockaddr_in name;
        alignas(cmsghdr) char control[4096];
        iovec vector{data, sizeof(data)};
        msghdr message;
        std::memset(&message, 0, sizeof(message));
        message.msg_name = &name;
        message.msg_namelen = sizeof(name);
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        if (recvmsg(descriptor_, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) break;  // empty, or failing: stop
        bool stop = false;
        for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
            if (item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_RECVERR) {
                sock_extended_err error;
                std::memcpy(&error, CMSG_DATA(item), sizeof(error));
                if (error.ee_origin == SO_EE_ORIGIN_ICMP) {
                    // The offender's address follows the record; nothing
                    // further is done with it.
                    stop = true;
                    break;
                }
                std::fputs(error.ee_origin == SO_EE_ORIGIN_LOCAL ? "}}} local error\n" : "}}} strange error\n",
                           stderr);
            } else {
                std::fputs("}}} unknown message on error queue\n", stderr);
            }
        }
        if (stop) break;
    }
    leave();
}

void i4_tcpip_sock::setBlocking(bool blocking) {
    CallScope call(this);
    if (!enter()) return;
    int nonBlocking = blocking ? 0 : 1;
    ioctl(descriptor_, FIONBIO, &nonBlocking);
    leave();
}

i4_tcpip_address* i4_tcpip_sock::localAddress() {
    CallScope call(this);
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    if (enter()) {
        socklen_t length = sizeof(address);
        getsockname(descriptor_, reinterpret_cast<sockaddr*>(&address), &length);
        leave();
    }
    return new i4_tcpip_address(address);
}

i4_tcpip_address* i4_tcpip_sock::peerAddress() {
    CallScope call(this);
    if (!enter()) return nullptr;
    sockaddr_in address;
    socklen_t length = sizeof(address);
    int result = getpeername(descriptor_, reinterpret_cast<sockaddr*>(&address), &length);
    leave();
    if (result != 0) return nullptr;
    return new i4_tcpip_address(address);
}
