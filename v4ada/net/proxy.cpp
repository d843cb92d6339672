#include "v4ada/net/proxy.h"

#include <cstdio>
#include <cstring>

#include "v4ada/memory/malloc4.h"
#include "v4ada/net/address.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/string/cstring.h"

i4_proxy_sock::i4_proxy_sock(i4_tcpip_sock* plain, int firstState, const i4_tcpip_address* target,
                             const char* user, const char* password)
    : i4_tcpip_sock(plain->releaseDescriptor(), plain->type()),
      user_(i4_strdup(user)),
      password_(i4_strdup(password)),
      state_(firstState) {
    delete plain;
    if (target != nullptr) target_ = static_cast<i4_tcpip_address*>(target->clone());
}

i4_proxy_sock::~i4_proxy_sock() {
    closeAndWait();  // no thread may be inside a call while the state goes
    delete target_;
    i4_free(user_);
    i4_free(password_);
}

int i4_proxy_sock::read(void* buffer, int n) {
    CallScope call(this);
    if (state_ != kProxyEstablished) return 0;
    return i4_tcpip_sock::read(buffer, n);
}

int i4_proxy_sock::write(const void* buffer, int n) {
    CallScope call(this);
    if (state_ != kProxyEstablished) return 0;
    return i4_tcpip_sock::write(buffer, n);
}

void i4_proxy_sock::prepareSend(const uint8_t* data, int n, int nextState) {
    std::memcpy(buffer_, data, n);
    bufferCount_ = n;
    sentCount_ = 0;
    afterSend_ = nextState;
    sending_ = true;
}

bool i4_proxy_sock::sendPending() {
    int n = i4_tcpip_sock::write(buffer_ + sentCount_, bufferCount_ - sentCount_);
    if (n < 0) {
        fail();
        return false;
    }
    sentCount_ += n;
    if (sentCount_ < bufferCount_) return false;
    state_ = afterSend_;
    sending_ = false;
    bufferCount_ = 0;
    return true;
}

bool i4_proxy_sock::readReply(int wanted) {
    if (bufferCount_ >= wanted) return true;
    int n = i4_tcpip_sock::read(buffer_ + bufferCount_, wanted - bufferCount_);
    if (n < 0) {
        fail();
        return false;
    }
    bufferCount_ += n;
    return true;
}

void i4_proxy_sock::stepHttpReply() {
    for (;;) {
        if (bufferCount_ >= kBufferSize - 1) {
            fail();
            return;
        }
        int n = i4_tcpip_sock::read(buffer_ + bufferCount_, 1);
        if (n < 0) {
            fail();
            return;
        }
        if (n == 0) return;  // nothing more yet
        bufferCount_++;
        // The next byte is read only when it is there already, so a
        // blocking socket never blocks past the time limit.
        bool more = pollOnce(kReadable, 0) & kReadable;
        if (buffer_[bufferCount_ - 1] != '\n') {
            if (!more) return;
            continue;
        }
        int status = 0;
        ProxyReply reply = http_proxy_reply(buffer_, bufferCount_, &status, nullptr);
        if (reply == ProxyReply::kOk) {
            state_ = kProxyEstablished;
            return;
        }
        if (reply == ProxyReply::kFail) {
            fail();
            return;
        }
        if (!more) return;
    }
}

void i4_proxy_sock::sendRequest(const uint8_t* request, int n, int nextState) {
    if (n < 0) {
        fail();
        return;
    }
    prepareSend(request, n, nextState);
    sendPending();
}

int i4_proxy_sock::takeConnectReply(ProxyReply reply, const uint8_t ip[4], int port, int flags) {
    if (reply == ProxyReply::kFail) fail();
    if (reply != ProxyReply::kOk) return -1;
    target_->setIpBytes(ip);
    target_->setPort(port);
    state_ = kProxyEstablished;
    return flags & kWritable;
}

int i4_proxy_sock::step(int flags) {
    uint8_t request[kBufferSize];
    uint8_t ip[4] = {0, 0, 0, 0};
    if (target_ != nullptr) target_->ipBytes(ip);
    if (sending_) {
        sendPending();
        return -1;
    }
    switch (state_) {
        case kProxyHttpSend: {
            if (target_ == nullptr) return 0;
            char text[kBufferSize];
            // The printed target: its host name, or its dotted address.
            char dotted[16];
            std::snprintf(dotted, sizeof(dotted), "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
            const char* printed = target_->hostName() != nullptr ? target_->hostName() : dotted;
            int n = http_connect_request(printed, target_->port(), target_->hostName(), user_, password_, text,
                                         sizeof(text));
            if (n < 0) {
                fail();
                return -1;
            }
            prepareSend(reinterpret_cast<uint8_t*>(text), n, kProxyHttpReply);
            sendPending();
            return -1;
        }
        case kProxyHttpReply:
            stepHttpReply();
            return -1;
        case kProxySocks4Send: {
            if (target_ == nullptr) return 0;
            sendRequest(request,
                        socks4_request(kProxyConnect, target_->port(), ip, target_->hostName(), request, sizeof(request)),
                        kProxySocks4Reply);
            return -1;
        }
        case kProxySocks4Reply: {
            if (!readReply(kSocks4ReplyLength)) return -1;
            int port = 0;
            ProxyReply reply = socks4_reply(buffer_, bufferCount_, ip, &port);
            return takeConnectReply(reply, ip, port, flags);
        }
        case kProxySocks5Greeting:
            prepareSend(kSocks5Greeting, kSocks5GreetingLength, kProxySocks5Method);
            sendPending();
            return -1;
        case kProxySocks5Method: {
            if (!readReply(2)) return -1;
            int method = 0;
            ProxyReply reply = socks5_method_reply(buffer_, bufferCount_, &method);
            if (reply == ProxyReply::kFail) fail();
            if (reply != ProxyReply::kOk) return -1;
            if (method == kSocks5MethodNone) {
                state_ = kProxySocks5Request;
                bufferCount_ = 0;
                return -1;
            }
            int n = socks5_login_request(user_, password_, request, sizeof(request));
            if (n < 0) {
                fail();
                return flags & kReadyError;
            }
            prepareSend(request, n, kProxySocks5LoginReply);
            sendPending();
            return -1;
        }
        case kProxySocks5LoginReply: {
            if (!readReply(2)) return -1;
            ProxyReply reply = socks5_login_reply(buffer_, bufferCount_);
            if (reply == ProxyReply::kFail) fail();
            if (reply != ProxyReply::kOk) return -1;
            state_ = kProxySocks5Request;
            bufferCount_ = 0;
            return -1;
        }
        case kProxySocks5Request: {
            if (target_ == nullptr) {
                fail();
                return -1;
            }
            sendRequest(request,
                        socks5_request(kProxyConnect, target_->port(), ip, target_->hostName(), request, sizeof(request)),
                        kProxySocks5Reply);
            return -1;
        }
        case kProxySocks5Reply: {
            // The length shows only once the address type is in.
            if (!readReply(socks5_reply_length(buffer_, bufferCount_))) return -1;
            int port = target_ != nullptr ? target_->port() : 0;
            ProxyReply reply = socks5_reply(buffer_, bufferCount_, ip, &port);
            return takeConnectReply(reply, ip, port, flags);
        }
        default:
            fail();
            return -1;
    }
}

int i4_proxy_sock::waitUntil(int flags, int timeoutMs, i4_progress* /*progress*/) {
    CallScope call(this);
    long long start = net_monotonic_ms();
    for (;;) {
        long long remaining = timeoutMs - (net_monotonic_ms() - start);
        if (remaining < 0) remaining = 0;
        if (state_ == kProxyFailed) return flags & kReadyError;
        if (state_ == kProxyEstablished) {
            return i4_tcpip_sock::waitUntil(flags, timeoutMs < 0 ? -1 : static_cast<int>(remaining), nullptr);
        }
        // Sending states wait for writable, the others for readable.
        bool sending = sending_ || state_ == kProxyHttpSend || state_ == kProxySocks4Send ||
                       state_ == kProxySocks5Greeting || state_ == kProxySocks5Request;
        int need = sending ? kWritable : kReadable;
        if (timeoutMs > 0 && remaining == 0) {
            fail();  // the handshake did not finish in time
            continue;
        }
        int ready = pollOnce(need, timeoutMs > 0 ? static_cast<int>(remaining) : -1);
        if (!(ready & need)) {
            fail();
            continue;
        }
        int result = step(flags);
        if (result >= 0) return result;
    }
}
