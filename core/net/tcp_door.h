// TCPDoor: a listening socket in the pool. Each accepted socket becomes a
// connection built by the subclass and joins the pool.
//
// An accepted TCP connection waits in the door's lobby until its subclass
// admits it. A newcomer from an address with DoorLobby::kMaxWaitingPerAddress
// connections waiting displaces the oldest of them; a newcomer the door
// has no room for (acceptAllowed false, or waitingLimit reached) displaces
// the oldest waiting connection of any address, and is refused only when
// nobody waits. A displaced connection leaves the pool at its next step.
#pragma once

#include <cstdint>
#include <memory>

#include "core/net/clocked_connection.h"
#include "core/net/door_lobby.h"
#include "v4ada/net/ready_flags.h"

class TCPDoor : public ClockedConnection {
public:
    // Connections accepted in one service at most. A connection accepted
    // in one service is served (and may finish its hello) in the next; the
    // accepts of those two services displace fewer than the per-address cap
    // before it, so a flood from its own address cannot push it out unread.
    static constexpr int kMaxAcceptsPerService = 4;
    static_assert(2 * kMaxAcceptsPerService - 1 < DoorLobby::kMaxWaitingPerAddress);

    explicit TCPDoor(int port);

    // Listens on the port through networkProtocol; false when listening
    // already, without a protocol or when the listen fails.
    bool listen(int timeoutMs);

    bool doTask() override;
    const char* status(OwnedString& out) override;
    // A listening socket only ever becomes readable.
    int wantedFlags() override { return kReadable | kReadyError; }

    virtual bool acceptAllowed() { return true; }
    // How many accepted connections may wait in the lobby at once (no cap
    // of its own by default: acceptAllowed bounds them).
    virtual int waitingLimit() { return INT32_MAX; }
    // The connection for an accepted (non-blocking) socket, which it owns.
    virtual Connection* makeConnection(i4_socket* socket) = 0;

    int port() const { return port_; }
    const DoorLobby& lobby() const { return *lobby_; }

private:
    // Whether a newcomer from the address may come in; makes room by
    // displacing a waiting connection where the caps say so.
    bool admitNewcomer(uint32_t ip);

    int32_t port_;
    std::shared_ptr<DoorLobby> lobby_ = std::make_shared<DoorLobby>();
};
