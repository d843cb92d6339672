// ClientSourcePool: the peer pool as the download sources see it
// (SourcePeerPool). Connections are the Peers' faces; a connection that is
// not a listed Peer has none. Start-up installs one (installSourcePeerPool)
// once the peer pool exists, and removes it before the pool goes.
//
// Task thread, like the peer pool's connects and finds.
#pragma once

#include "downloads/source_peer.h"

class ClientSourcePool final : public SourcePeerPool {
public:
    // Not persistent: the connection closes when its last holder lets go.
    int connect(UserMeta* user, SourcePeer** out) override;
    SourcePeer* findByUser(const UserMeta* user) override;
    bool contains(const SourcePeer* peer) override;
    // The socket pool's connections (every kind), pending ones included.
    int connectionCount() override;
    SourcePeer* peerOf(TCPConnection* connection) override;
};

// Makes the process-wide face of the peer pool and installs it (keeps one
// that is installed already).
void installSourcePeerPool();
// Uninstalls and deletes it.
void uninstallSourcePeerPool();
