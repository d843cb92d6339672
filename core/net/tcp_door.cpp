#include "core/net/tcp_door.h"

#include <memory>

#include "core/net/ip_text.h"
#include "core/net/network_protocol.h"
#include "core/net/socket_pool.h"
#include "core/net/tcp_connection.h"
#include "v4ada/error/error.h"
#include "v4ada/net/address.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket.h"

TCPDoor::TCPDoor(int port) : port_(port) {}

bool TCPDoor::admitNewcomer(uint32_t ip) {
    Connection* displaced = nullptr;
    if (lobby_->waitingFrom(ip) >= DoorLobby::kMaxWaitingPerAddress)
        displaced = lobby_->takeOldestFrom(ip);
    else if (!acceptAllowed() || lobby_->waiting() >= waitingLimit())
        displaced = lobby_->takeOldest();
    else
        return true;
    if (displaced == nullptr) return false;
    pool_->remove(displaced);
    return true;
}

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
        // Several per service, so that a burst of connections does not sit
        // in the kernel's queue ahead of the peers that come after it.
        bool acceptedAny = false;
        for (int taken = 0; taken < kMaxAcceptsPerService; taken++) {
            i4_socket* accepted = nullptr;
            if (!socket_->accept(&accepted) || accepted == nullptr) break;
            acceptedAny = true;
            i4_tcpip_address* from = accepted->peerAddress();
            const uint32_t ip = addressToIp(from);
            delete from;
            if (admitNewcomer(ip)) {
                accepted->setBlocking(false);
                Connection* connection = makeConnection(accepted);
                if (auto tcp = dynamic_cast<TCPConnection*>(connection)) tcp->lobbySeat().take(lobby_, tcp, ip);
                pool_->add(connection);
            } else {
                accepted->close();
                delete accepted;
            }
        }
        return acceptedAny;
    } catch (i4_err&) {
        return false;
    }
}
