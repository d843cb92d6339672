// PeerConnector: opens outgoing connections, each on a ConnectThread of
// its own, and refuses a second attempt to an address and port while one
// is under way. Connections that connect join the pool; those that fail
// are deleted by their thread.
#pragma once

#include "v4ada/containers/ll.h"
#include "v4ada/threads/linux/sys_mutex.h"

class SocketPool;
class TCPConnection;

class PeerConnector {
public:
    explicit PeerConnector(SocketPool* pool) : pool_(pool) {}
    PeerConnector(const PeerConnector&) = delete;
    PeerConnector& operator=(const PeerConnector&) = delete;

    // Starts connecting; the connector's threads own the connection from
    // here on. Null: true, nothing done. Another attempt to the same
    // address and port under way: false, and the connection (when it is
    // another object) is deleted.
    bool connect(TCPConnection* connection);
    // Under the lock: the first listed connection with the same remote
    // address and port, or null.
    TCPConnection* find(TCPConnection* connection);
    // Under the lock: unlinks the connection from the list.
    void remove(TCPConnection* connection);

    int connectingCount();
    SocketPool* pool() const { return pool_; }

private:
    // The caller holds the lock.
    TCPConnection* findListed(TCPConnection* connection) TS_REQUIRES(lock_);

    SysMutex lock_;
    LL connecting_ TS_GUARDED_BY(lock_);  // not owned
    SocketPool* pool_;
};
