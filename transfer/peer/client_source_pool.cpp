#include "transfer/peer/client_source_pool.h"

#include "core/startup/core_thread.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"

namespace {
ClientSourcePool* gFaces = nullptr;
}  // namespace

int ClientSourcePool::connect(UserMeta* user, SourcePeer** out) {
    ClientPool* pool = clientPool();
    if (pool == nullptr) return kNoRoom;
    Peer* peer = nullptr;
    int result = pool->connect(user, &peer, false);
    if (out) *out = result == kConnected && peer ? peer->sourceFace() : nullptr;
    return result;
}

SourcePeer* ClientSourcePool::findByUser(const UserMeta* user) {
    ClientPool* pool = clientPool();
    Peer* peer = pool ? pool->findByUser(user) : nullptr;
    return peer ? peer->sourceFace() : nullptr;
}

bool ClientSourcePool::contains(const SourcePeer* peer) {
    ClientPool* pool = clientPool();
    return pool != nullptr && peer != nullptr && pool->containsFace(peer);
}

int ClientSourcePool::connectionCount() {
    CoreThread* core = coreThread();
    return core ? core->connectionCount() : 0;
}

SourcePeer* ClientSourcePool::peerOf(TCPConnection* connection) {
    ClientPool* pool = clientPool();
    // Only the pool's connections are known to be Peers (and alive); one
    // that is closing is still met by the handlers' peerClosed.
    if (pool == nullptr || connection == nullptr || !pool->isPeer(connection)) return nullptr;
    return static_cast<Peer*>(connection)->sourceFace();
}

void installSourcePeerPool() {
    if (gFaces) return;
    gFaces = new ClientSourcePool();
    setSourcePeerPool(gFaces);
}

void uninstallSourcePeerPool() {
    if (sourcePeerPool() == gFaces) setSourcePeerPool(nullptr);
    delete gFaces;
    gFaces = nullptr;
}
