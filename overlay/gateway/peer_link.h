// PeerLink: what the firewall test and the buddy list need of the pool of
// connections to other clients: connecting to an address (with the
// pool's result codes), finding a user's connection, following the
// connection events, holding a connection open and the few messages they
// send on it. The peer protocol implements it over its pool and installs
// it at start-up; tests give each gateway a fake of their own.
//
// Connections are named by their TCPConnection; the overlay never looks
// inside one except through these operations. Task thread only.
#pragma once

#include <cstdint>

#include "v4ada/containers/unique_id.h"

class PeerEventHandler;
class TCPConnection;

// What the overlay reads of a connection that finished its hello.
struct PeerFacts {
    uint32_t socketIp = 0;  // the address the connection really goes to
    uint16_t port = 0;      // the user's TCP door port (from its hello)
    uint32_t helloIp = 0;   // the address the user's hello claims
    UniqueID userHash;      // the user's hash (from its hello)
};

class PeerLink {
public:
    // Results of connect (those of the pool).
    static constexpr int kConnected = 0;   // *out is the listed connection
    static constexpr int kConnecting = 1;  // newPeer or connectFailed follows
    static constexpr int kBothLowId = 2;
    static constexpr int kNotCalled = 3;   // this client, or no call-back asked
    static constexpr int kNoRoom = 4;

    // A connection, not persistent, to the user at ip:port.
    virtual int connect(uint32_t ip, uint16_t port, TCPConnection** out) = 0;
    // The listed connection of the user with that hash, or null.
    virtual TCPConnection* findByUserHash(const UniqueID& hash) = 0;
    // The handler hears newPeer, peerClosed and connectFailed from now on
    // (until removed).
    virtual void addHandler(PeerEventHandler* handler) = 0;
    virtual void removeHandler(PeerEventHandler* handler) = 0;

    virtual PeerFacts facts(TCPConnection* connection) = 0;
    // A use of the connection, tagged with the holder's name; the last
    // release of a connection that is not persistent closes it.
    virtual void hold(TCPConnection* connection, const char* tag) = 0;
    virtual void release(TCPConnection* connection, const char* tag) = 0;
    // The idle count starts again, so the idle limit never closes it.
    virtual void keepAlive(TCPConnection* connection) = 0;
    virtual void sendPing(TCPConnection* connection) = 0;
    virtual void sendPortReachable(TCPConnection* connection) = 0;
    // Asks the user of the connection to connect to ip:port.
    virtual void sendCallbackRequest(TCPConnection* connection, uint32_t ip, uint16_t port) = 0;

protected:
    ~PeerLink() = default;
};

// The installed link, or null. Any thread.
PeerLink* peerLink();
// Returns the previous one; null uninstalls. Not owned.
PeerLink* setPeerLink(PeerLink* link);
