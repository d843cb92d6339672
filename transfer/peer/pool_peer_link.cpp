#include "transfer/peer/pool_peer_link.h"

#include "core/meta/user_meta.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"

namespace {

// Every connection the pool reports to its handlers is a Peer.
Peer* peerOf(TCPConnection* connection) { return static_cast<Peer*>(connection); }

// An idle count that the peer's idle limit never reaches.
constexpr int32_t kKeptIdleMs = 1;

}  // namespace

int PoolPeerLink::connect(uint32_t ip, uint16_t port, TCPConnection** out) {
    ClientPool* pool = clientPool();
    if (pool == nullptr) return kNotCalled;
    UserMeta user;
    user.setIp(ip);
    user.setPort(port);
    Peer* peer = nullptr;
    int result = pool->connect(&user, &peer, false);
    if (out != nullptr) *out = peer;
    return result;
}

TCPConnection* PoolPeerLink::findByUserHash(const UniqueID& hash) {
    ClientPool* pool = clientPool();
    return pool != nullptr ? pool->findByUserHash(hash) : nullptr;
}

void PoolPeerLink::addHandler(PeerEventHandler* handler) {
    if (ClientPool* pool = clientPool()) pool->addHandler(handler);
}

void PoolPeerLink::removeHandler(PeerEventHandler* handler) {
    if (ClientPool* pool = clientPool()) pool->removeHandler(handler);
}

PeerFacts PoolPeerLink::facts(TCPConnection* connection) {
    PeerFacts facts;
    if (connection == nullptr) return facts;
    Peer* peer = peerOf(connection);
    facts.socketIp = peer->socketIp();
    facts.port = peer->user()->port();
    facts.helloIp = peer->user()->ip();
    facts.userHash = peer->user()->userHash();
    return facts;
}

void PoolPeerLink::hold(TCPConnection* connection, const char* tag) { peerOf(connection)->addRef(tag); }

void PoolPeerLink::release(TCPConnection* connection, const char* tag) { peerOf(connection)->release(tag); }

void PoolPeerLink::keepAlive(TCPConnection* connection) { peerOf(connection)->setIdleMs(kKeptIdleMs); }

void PoolPeerLink::sendPing(TCPConnection* connection) { peerOf(connection)->sendPing(); }

void PoolPeerLink::sendPortReachable(TCPConnection* connection) { peerOf(connection)->sendPortReachable(); }

void PoolPeerLink::sendCallbackRequest(TCPConnection* connection, uint32_t ip, uint16_t port) {
    peerOf(connection)->sendCallbackRequest(ip, port);
}
