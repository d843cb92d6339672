#include "console/remote/flock_tcp_ui.h"

#include "console/remote/flock_controller_door.h"
#include "core/net/socket_pool.h"
#include "core/strings/string_table.h"

FlockTcpUI::FlockTcpUI(UIGateway* consoleUI, CoreUI* consoleCore, TransferUI* consoleTransfer, FlockUI* consoleFlock,
                       SocketPool* pool, int port)
    : TcpipUI(consoleUI, consoleCore, consoleTransfer), consoleFlock_(consoleFlock) {
    openDoor(pool, port);
}

void FlockTcpUI::openDoor(SocketPool* pool, int port) {
    if (pool) {
        auto door = new FlockControllerDoor(port, this);
        if (door->listen(FlockControllerDoor::kListenTimeoutMs)) {
            pool->add(door);
            doorOpen_ = true;
            return;
        }
        delete door;
    }
    if (UIGateway* console = consoleUI()) {
        OwnedString text(kCantListenDefault);
        if (const XMLStringTable* table = XMLStringTable::instance()) table->lookup(kCantListenKey, text);
        console->print("%s %d.", text.c_str(), port);
    }
}

void FlockTcpUI::searchResult(Service* result) {
    if (addResult(result)) return;
    if (consoleFlock_) consoleFlock_->searchResult(result);
}
