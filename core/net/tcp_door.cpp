#include "core/net/tcp_door.h"

#include <memory>

#include "core/net/network_protocol.h"
#include "core/net/socket_pool.h"
#include "v4ada/error/error.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket.h"

TCPDoor::TCPDoor(int port) : port_(port) {}

bool TCPDoor::listen(int timeoutMs) {
    if (socket_ != nullptr) return false;
    std::shared_ptr<i4_protocol> protocol = networkProtocol();
    if (!protocol) return false;
    i4_socket* socket = protocol->listen(port_, timeoutMs, kSocketStream, nullptr);
    if (socket == nullptr) return false;
    socket->setBlocking(false);
    setSocket(socket);
    return true;
}

const char* TCPDoor::status(OwnedString& out) {
    out = "TCPDoor";
    return out.c_str();
}

bool TCPDoor::doTask() {
    try {
        if (socket_ == nullptr) {
            pool_->remove(this);
            return false;
        }
        int flags = socket_->checkInSet(pool_->socketSet(), kReadable | kReadyError);
        if (flags & kReadyError) {
            pool_->remove(this);
            return false;
        }
        if (!(flags & kReadable)) return false;
        i4_socket* accepted = nullptr;
        if (!socket_->accept(&accepted) || accepted == nullptr) return false;
        if (acceptAllowed()) {
            accepted->setBlocking(false);
            pool_->add(makeConnection(accepted));
        } else {
            accepted->close();
            delete accepted;
        }
        return true;
    } catch (i4_err&) {
        return false;
    }
}
