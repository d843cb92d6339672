// PoolPeerLink: the overlay's peer link (overlay/gateway/peer_link.h) over the
// process-wide peer pool and its Peer connections. Start-up makes one,
// installs it with setPeerLink before the overlay starts and removes it
// after the overlay gateway is gone. Without a pool, connects report
// kNotCalled and nothing is found.
#pragma once

#include "overlay/gateway/peer_link.h"

class PoolPeerLink : public PeerLink {
public:
    int connect(uint32_t ip, uint16_t port, TCPConnection** out) override;
    TCPConnection* findByUserHash(const UniqueID& hash) override;
    void addHandler(PeerEventHandler* handler) override;
    void removeHandler(PeerEventHandler* handler) override;
    PeerFacts facts(TCPConnection* connection) override;
    void hold(TCPConnection* connection, const char* tag) override;
    void release(TCPConnection* connection, const char* tag) override;
    void keepAlive(TCPConnection* connection) override;
    void sendPing(TCPConnection* connection) override;
    void sendPortReachable(TCPConnection* connection) override;
    void sendCallbackRequest(TCPConnection* connection, uint32_t ip, uint16_t port) override;
};
