// PeerEventHandler: everyone who follows the connections to other clients
// (downloads, uploads, friends, private messages, the overlay's firewall
// test and buddies). Handlers register once at start-up with the peer pool
// and are called in registration order, on the task thread (connectFailed
// arrives there through the message bus).
#pragma once

#include <cstdint>

class TCPConnection;

class PeerEventHandler {
public:
    // A connection that finished its hello is being destroyed.
    virtual void peerClosed(TCPConnection* connection) { (void)connection; }
    // An outgoing connection attempt to ip:port failed.
    virtual void connectFailed(uint32_t ip, uint16_t port) { (void)ip, (void)port; }
    // A connection finished its hello and joined the pool; a handler that
    // keeps it takes a use of it.
    virtual void newPeer(TCPConnection* connection) { (void)connection; }

protected:
    // Handlers are never deleted through this interface.
    ~PeerEventHandler() = default;
};
