// PeerDoor: the listening socket on the door port through which other
// clients connect to this one. Each accepted socket becomes an incoming
// Peer, unless the socket pool already holds too many connections.
//
// One door exists at a time: the process-wide peerDoor, set by openDoor and
// cleared when that door is deleted.
#pragma once

#include "core/net/tcp_door.h"

class ProxySettings;

class PeerDoor : public TCPDoor {
public:
    // Listen time-outs of openDoor: at start-up and for a proxy change.
    static constexpr int kStartupListenMs = 500;
    static constexpr int kProxyListenMs = 1000;

    // Becomes the process-wide door.
    explicit PeerDoor(int port);
    // Clears the process-wide door when it is this one.
    ~PeerDoor() override;

    // While the socket pool holds fewer than min("maxCon" + 10,
    // 2 x "maxCon") connections.
    bool acceptAllowed() override;
    Connection* makeConnection(i4_socket* socket) override;

    // The connection count below which acceptAllowed holds.
    static int acceptLimit(int maxCon);
};

// The door, or null. Task thread (and shutdown).
PeerDoor* peerDoor();

// Opens the door on the "doorPort" of the transfer options, once:
// 1. the proxy settings are taken (CoreOptions::setProxy); when they
//    changed the network protocol is rebuilt with them, and when they name
//    a proxy, nothing more (nothing listens through one);
// 2. with a door already there, nothing more;
// 3. a new door listens with the time-out and joins the socket pool; when
//    it cannot listen the transfer UI hears doorFailed and the door stays
//    (unlistened) as peerDoor until the port changes.
void openDoor(const ProxySettings* settings, int listenTimeoutMs);

// Lets go of the door: one that listens leaves the socket pool (deleted at
// its next step); one that never listened is deleted now. peerDoor is null
// afterwards.
void closePeerDoor();
