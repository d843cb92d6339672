#include "core/net/connect_thread.h"

#include "core/net/peer_connector.h"
#include "core/net/socket_pool.h"
#include "core/net/tcp_connection.h"

void ConnectThread::run() {
    bool ok = connection_->open();
    requestStop();
    // Off the list before the pool may delete it.
    connector_->remove(connection_);
    if (ok)
        pool_->add(connection_);
    else
        delete connection_;
}
