// FlockTcpUI: the remote user interface with the overlay's notifications.
// Building it opens the administration door on the configured port in the
// core's socket pool; a door that cannot listen is reported on the console
// and the interface works all the same (nobody can log in).
//
// Made by the command-line argument "-"; destroyed by the shutdown after
// the core has stopped (the pool, with the door and every controller, is
// gone by then).
#pragma once

#include "console/remote/tcpip_ui.h"
#include "core/ui/flock_ui.h"

class SocketPool;

class FlockTcpUI : public TcpipUI, public FlockUI {
public:
    // The door joins pool on port; a null pool or a port that cannot be
    // opened leaves it closed.
    FlockTcpUI(UIGateway* consoleUI, CoreUI* consoleCore, TransferUI* consoleTransfer, FlockUI* consoleFlock,
               SocketPool* pool, int port);

    // With a controller the result goes to it (addResult); without, to
    // the console's result list.
    void searchResult(Service* result) override;

    bool doorOpen() const { return doorOpen_; }
    FlockUI* consoleFlock() const { return consoleFlock_; }

private:
    void openDoor(SocketPool* pool, int port);

    FlockUI* consoleFlock_;
    bool doorOpen_ = false;
};
