// i4_proxy_sock: a socket connected to a proxy that runs the proxy's
// handshake for its target before any data passes. Whoever waits on it
// drives the handshake within the wait's time limit; a wait that ends in
// writable (2) means established.
#pragma once

#include <cstdint>

#include "v4ada/net/proxy_handshake.h"
#include "v4ada/net/socket.h"

class i4_tcpip_address;

// Handshake states.
enum ProxyState : int {
    kProxyHttpSend = 0,
    kProxyHttpReply = 2,
    kProxySocks4Send = 3,
    kProxySocks4Reply = 4,
    kProxySocks5Greeting = 6,
    kProxySocks5Method = 7,
    kProxySocks5LoginReply = 8,
    kProxySocks5Request = 9,
    kProxySocks5Reply = 10,
    kProxyFailed = 13,
    kProxyEstablished = 14,
};

class i4_proxy_sock : public i4_tcpip_sock {
public:
    // Takes over plain's descriptor (plain is deleted) and keeps copies of
    // target and of the credentials.
    i4_proxy_sock(i4_tcpip_sock* plain, int firstState, const i4_tcpip_address* target, const char* user,
                  const char* password);
    ~i4_proxy_sock() override;

    // Move data only once established; 0 before.
    int read(void* buffer, int n) override;
    int write(const void* buffer, int n) override;
    // Runs the handshake (timeoutMs <= 0: no limit for it), then waits for
    // flags within what is left of timeoutMs.
    int waitUntil(int flags, int timeoutMs, i4_progress* progress) override;

    int state() const { return state_; }
    // The target, with the address and port the proxy reported.
    const i4_tcpip_address* target() const { return target_; }

private:
    static constexpr int kBufferSize = kHttpProxyBuffer;
    static_assert(kSocks5ReplyMaxLength <= kBufferSize);

    // Writes what is left of the request; true when all of it went out.
    bool sendPending();
    void prepareSend(const uint8_t* data, int n, int nextState);
    // Reads at most `wanted` bytes in all into the reply buffer; false when
    // the peer closed or the read failed.
    bool readReply(int wanted);
    // Reads the HTTP header one byte at a time so no tunnel byte is taken.
    void stepHttpReply();
    void fail() { state_ = kProxyFailed; }
    // Sends a built request (n < 0: it could not be built) and moves on.
    void sendRequest(const uint8_t* request, int n, int nextState);
    // Takes a connect reply: the tunnel stands when it is complete and good.
    int takeConnectReply(ProxyReply reply, const uint8_t ip[4], int port, int flags);
    // Runs one step of a handshake state; -1 to go on, or a wait result.
    int step(int flags);

    uint8_t buffer_[kBufferSize];
    int bufferCount_ = 0;  // bytes of the reply read, or of the request built
    int sentCount_ = 0;    // bytes of the request written
    int afterSend_ = kProxyFailed;
    bool sending_ = false;  // a request is being written
    i4_tcpip_address* target_ = nullptr;
    char* user_ = nullptr;
    char* password_ = nullptr;
    int state_ = kProxyFailed;
};
