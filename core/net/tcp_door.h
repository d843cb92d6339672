// TCPDoor: a listening socket in the pool. Each accepted socket becomes a
// connection built by the subclass and joins the pool.
#pragma once

#include <cstdint>

#include "core/net/clocked_connection.h"
#include "v4ada/net/ready_flags.h"

class TCPDoor : public ClockedConnection {
public:
    explicit TCPDoor(int port);

    // Listens on the port through networkProtocol; false when listening
    // already, without a protocol or when the listen fails.
    bool listen(int timeoutMs);

    bool doTask() override;
    const char* status(OwnedString& out) override;
    // A listening socket only ever becomes readable.
    int wantedFlags() override { return kReadable | kReadyError; }

    virtual bool acceptAllowed() { return true; }
    // The connection for an accepted (non-blocking) socket, which it owns.
    virtual Connection* makeConnection(i4_socket* socket) = 0;

    int port() const { return port_; }

private:
    int32_t port_;
};
