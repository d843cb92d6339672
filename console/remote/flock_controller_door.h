// FlockControllerDoor: the administration door, a listening socket in the
// core's socket pool. Every accepted socket becomes a FlockController that
// reports to the remote user interface; only one of them can log in at a
// time.
#pragma once

#include "console/remote/gui_controller.h"
#include "core/net/tcp_door.h"

class TcpipUI;

// The connection made for each accepted controller socket.
class FlockController : public GUIController {
public:
    FlockController(i4_socket* socket, TcpipUI* ui) : GUIController(socket, ui) {}
};

class FlockControllerDoor : public TCPDoor {
public:
    // How long a listen through a proxy may take.
    static constexpr int kListenTimeoutMs = 10000;

    // Controllers that have not logged in, waiting at once at most: a
    // newcomer beyond it displaces the oldest (besides the per-address
    // cap every door keeps).
    static constexpr int kMaxWaitingControllers = 32;

    FlockControllerDoor(int port, TcpipUI* ui) : TCPDoor(port), ui_(ui) {}

    int waitingLimit() override { return kMaxWaitingControllers; }
    Connection* makeConnection(i4_socket* socket) override { return new FlockController(socket, ui_); }

private:
    TcpipUI* ui_;  // not owned
};
