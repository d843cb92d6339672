#include "core/net/peer_connector.h"

#include "core/net/connect_thread.h"
#include "core/net/tcp_connection.h"

TCPConnection* PeerConnector::findListed(TCPConnection* connection) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&connecting_, &cursor)) {
        auto listed = static_cast<TCPConnection*>(element);
        if (listed->remoteIp() == connection->remoteIp() && listed->remotePort() == connection->remotePort())
            return listed;
    }
    return nullptr;
}

TCPConnection* PeerConnector::find(TCPConnection* connection) {
    SysMutexGuard guard(&lock_);
    return findListed(connection);
}

void PeerConnector::remove(TCPConnection* connection) {
    SysMutexGuard guard(&lock_);
    connecting_.remove(connection);
}

int PeerConnector::connectingCount() {
    SysMutexGuard guard(&lock_);
    return connecting_.count();
}

bool PeerConnector::connect(TCPConnection* connection) {
    if (connection == nullptr) return true;
    {
        SysMutexGuard guard(&lock_);
        TCPConnection* listed = findListed(connection);
        if (listed != nullptr) {
            if (listed != connection) delete connection;
            return false;
        }
        connecting_.append(connection);
    }
    auto thread = new ConnectThread(connection, this, pool_);
    if (!thread->start()) {
        // No thread took the connection: take it off the list again.
        remove(connection);
        delete thread;
        delete connection;
        return false;
    }
    return true;
}
