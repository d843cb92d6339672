#include "core/net/connection.h"

#include "core/net/socket_pool.h"
#include "v4ada/net/socket.h"

Connection::~Connection() {
    if (socket_ != nullptr) {
        socket_->close();
        delete socket_;
        socket_ = nullptr;
    }
}

void Connection::tick(int) {}

bool Connection::attach(SocketPool* pool) {
    if (socket_ == nullptr || !attachable_ || pool == nullptr) return false;
    attachable_ = false;
    socket_->addToSet(pool->socketSet(), kServeFlags);
    watched_ = kServeFlags;
    pool_ = pool;
    return true;
}

void Connection::refreshWatch() {
    if (socket_ == nullptr || pool_ == nullptr) return;
    int wanted = wantedFlags();
    if (wanted == watched_) return;
    socket_->watchInSet(pool_->socketSet(), wanted);
    watched_ = wanted;
}

void Connection::detach() {
    if (socket_ != nullptr && pool_ != nullptr) socket_->removeFromSet(pool_->socketSet());
    delete this;
}

const char* Connection::status(OwnedString& out) {
    out = "???";
    return out.c_str();
}
