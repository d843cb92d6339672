// ConnectThread: opens one outgoing connection for the PeerConnector and
// ends. A connected connection leaves the connector's list and then joins
// the pool; a failed one leaves the list and is deleted. The thread object
// deletes itself when it ends.
#pragma once

#include "core/task/thread.h"

class PeerConnector;
class SocketPool;
class TCPConnection;

class ConnectThread : public Thread {
public:
    ConnectThread(TCPConnection* connection, PeerConnector* connector, SocketPool* pool)
        : connection_(connection), connector_(connector), pool_(pool) {}

protected:
    void run() override;
    void onExit() override { delete this; }

private:
    TCPConnection* connection_;
    PeerConnector* connector_;
    SocketPool* pool_;
};
