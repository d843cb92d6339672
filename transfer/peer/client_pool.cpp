#include "transfer/peer/client_pool.h"

#include <algorithm>

#include "core/meta/user_meta.h"
#include "core/net/peer_connector.h"
#include "core/net/peer_event_handler.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "overlay/gateway/network_gateway.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/peer.h"
#include "v4ada/error/error.h"

namespace {

std::atomic<ClientPool*> gPool{nullptr};

// Addresses above this are called directly.
constexpr uint32_t kLastCallbackIp = 0xFFFFFE;

}  // namespace

ClientPool* ClientPool::instance() { return gPool.load(); }

void ClientPool::createInstance() {
    if (!gPool.load()) gPool.store(new ClientPool());
}

void ClientPool::destroyInstance() { delete gPool.exchange(nullptr); }

void ClientPool::addHandler(PeerEventHandler* handler) {
    if (!handler) return;
    SysMutexGuard guard(&lock_);
    handlers_.push_back(handler);
}

void ClientPool::removeHandler(PeerEventHandler* handler) {
    SysMutexGuard guard(&lock_);
    handlers_.erase(std::remove(handlers_.begin(), handlers_.end(), handler), handlers_.end());
}

std::vector<PeerEventHandler*> ClientPool::handlersCopy() {
    SysMutexGuard guard(&lock_);
    return handlers_;
}

std::vector<Peer*> ClientPool::peersCopy() {
    SysMutexGuard guard(&lock_);
    return peers_;
}

int ClientPool::peerCount() {
    SysMutexGuard guard(&lock_);
    return static_cast<int>(peers_.size());
}

Peer* ClientPool::findByUser(const UserMeta* user) {
    if (!user) return nullptr;
    SysMutexGuard guard(&lock_);
    for (Peer* peer : peers_)
        if (peer->user()->sameUser(user)) return peer;
    return nullptr;
}

Peer* ClientPool::findByUserHash(const UniqueID& hash) {
    SysMutexGuard guard(&lock_);
    for (Peer* peer : peers_)
        if (peer->user()->userHash().equals(hash)) return peer;
    return nullptr;
}

bool ClientPool::userAt(int index, UserMeta* out) {
    SysMutexGuard guard(&lock_);
    if (!out || index < 0 || static_cast<size_t>(index) >= peers_.size()) return false;
    out->assign(peers_[static_cast<size_t>(index)]->user());
    return true;
}

Peer* ClientPool::peerAt(int index) {
    SysMutexGuard guard(&lock_);
    if (index < 0 || static_cast<size_t>(index) >= peers_.size()) return nullptr;
    return peers_[static_cast<size_t>(index)];
}

void ClientPool::forEachPeer(const std::function<void(Peer*)>& fn) {
    SysMutexGuard guard(&lock_);
    for (Peer* peer : peers_) fn(peer);
}

bool ClientPool::contains(const TCPConnection* connection) {
    SysMutexGuard guard(&lock_);
    return std::find(peers_.begin(), peers_.end(), connection) != peers_.end();
}

bool ClientPool::containsFace(const SourcePeer* face) {
    SysMutexGuard guard(&lock_);
    for (Peer* peer : peers_)
        if (peer->sourceFace() == face) return true;
    return false;
}

bool ClientPool::isSelf(const UserMeta* user) {
    CoreOptions* options = coreOptions();
    if (!user || !options) return false;
    uint32_t ownIp = options->ownIP();
    if (user->ip() != ownIp) return false;
    if (ownIp < kLowIdLimit) return user->buddyIp() == options->buddyIP();
    TransferOptions* transfer = transferOptions();
    int doorPort = transfer ? transfer->doorPort() : 0;
    return user->port() == static_cast<uint16_t>(doorPort);
}

bool ClientPool::makeRoom() {
    CoreThread* core = coreThread();
    CoreOptions* options = coreOptions();
    int count = core ? core->connectionCount() : 0;
    int maxCon = options ? options->maxConnections() : kDefaultMaxConnections;
    if (count < maxCon) return true;
    int excess = count - maxCon;
    for (Peer* peer : peersCopy()) {
        if (excess <= 0) break;
        if (!peer->isDroppable()) continue;
        debug_printf("Too many peers dropping: %s\n", peer->name());
        peer->closeAfterFlush();
        excess--;
    }
    return excess <= 0;
}

bool ClientPool::dial(Peer* peer) {
    if (PeerDialer* dialer = dialer_.load()) return dialer->dial(peer);
    CoreThread* core = coreThread();
    PeerConnector* connector = core ? core->peerConnector() : nullptr;
    if (!connector) {
        delete peer;
        return false;
    }
    return connector->connect(peer);
}

int ClientPool::connect(UserMeta* user, Peer** out, bool persistent) {
    if (!user || isSelf(user)) return kNotCalled;
    if (Peer* listed = findByUser(user)) {
        if (out) *out = listed;
        return kConnected;
    }
    if (!makeRoom()) {
        debug_printf("Can't make new connection.\n");
        return kNoRoom;
    }
    if (user->ip() > kLastCallbackIp) {
        // A refused second attempt to the same address: the caller hears of
        // the one under way.
        dial(new Peer(user->ip(), user->port(), persistent));
        return kConnecting;
    }
    CoreOptions* options = coreOptions();
    if (!options || options->ownIP() <= kLastCallbackIp) return kBothLowId;
    NetworkGateway* gateway = networkGateway();
    return gateway && gateway->askCallback(user) ? kConnecting : kNotCalled;
}

void ClientPool::addPeer(Peer* peer) {
    if (!peer) return;
    {
        SysMutexGuard guard(&lock_);
        if (std::find(peers_.begin(), peers_.end(), peer) != peers_.end()) {
            debug_printf("Peer already on list\n");
            return;
        }
        peers_.push_back(peer);
    }
    peer->addRef("ClientPool::addPeer");
    for (PeerEventHandler* handler : handlersCopy()) handler->newPeer(peer);
    peer->release("ClientPool::addPeer");
}

void ClientPool::removePeer(Peer* peer) {
    {
        SysMutexGuard guard(&lock_);
        auto at = std::find(peers_.begin(), peers_.end(), peer);
        if (at == peers_.end()) return;
        peers_.erase(at);
        closing_.push_back(peer);
    }
    for (PeerEventHandler* handler : handlersCopy()) handler->peerClosed(peer);
    SysMutexGuard guard(&lock_);
    closing_.erase(std::find(closing_.begin(), closing_.end(), peer));
}

bool ClientPool::isPeer(const TCPConnection* connection) {
    SysMutexGuard guard(&lock_);
    return std::find(peers_.begin(), peers_.end(), connection) != peers_.end() ||
           std::find(closing_.begin(), closing_.end(), connection) != closing_.end();
}

void ClientPool::notifyConnectFailed(uint32_t ip, uint16_t port) {
    for (PeerEventHandler* handler : handlersCopy()) handler->connectFailed(ip, port);
}
