#include "support/peer_link.h"

#include "core/net/socket_pool.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"
#include "v4ada/net/ready_flags.h"

namespace support {

PeerLink::PeerLink()
    : protocol_(std::make_shared<FakeProtocol>()),
      scope_(protocol_),
      pool_(std::make_unique<STSocketPool>(&bandwidth_)) {}

PeerLink::~PeerLink() { pool_.reset(); }

Peer* PeerLink::open(const UserMeta& user, bool listed) {
    auto socket = new FakeSocket();
    socket->ready = kWritable;
    socket->blocking = false;
    auto peer = new Peer(socket);
    peer->user()->assign(&user);
    if (user.ip() != 0) peer->setAddress(user.ip());
    peers_[peer] = Entry{socket};
    pool_->add(peer);
    pool_->applyPending();
    if (listed) {
        if (ClientPool* clients = ClientPool::instance()) clients->addPeer(peer);
    }
    return peer;
}

void PeerLink::serve(int elapsedMs) { pool_->tick(elapsedMs); }

bool PeerLink::flush(Peer* peer, int rounds) {
    for (int i = 0; i < rounds; i++) {
        if (!pool_->isActive(peer) || peer->queuedPackets() == 0) return true;
        serve();
    }
    return !pool_->isActive(peer) || peer->queuedPackets() == 0;
}

std::vector<Frame> PeerLink::frames(Peer* peer) {
    auto at = peers_.find(peer);
    if (at == peers_.end()) return {};
    size_t used = 0;
    std::vector<Frame> got = decode_frames(at->second.socket->written.substr(at->second.consumed), &used);
    at->second.consumed += used;
    return got;
}

FakeSocket* PeerLink::socketOf(Peer* peer) {
    auto at = peers_.find(peer);
    return at == peers_.end() ? nullptr : at->second.socket;
}

void PeerLink::close(Peer* peer) {
    peers_.erase(peer);
    pool_->remove(peer);
    pool_->applyPending();
}

std::vector<Frame> decode_frames(const std::string& bytes, size_t* consumed) {
    std::vector<Frame> frames;
    size_t at = 0;
    while (bytes.size() - at >= 5) {
        uint32_t length = static_cast<uint8_t>(bytes[at + 1]) | static_cast<uint8_t>(bytes[at + 2]) << 8 |
                          static_cast<uint8_t>(bytes[at + 3]) << 16 |
                          static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 4])) << 24;
        if (length == 0 || bytes.size() - at - 5 < length) break;
        frames.push_back(Frame{static_cast<uint8_t>(bytes[at + 5]), bytes.substr(at + 6, length - 1)});
        at += 5 + length;
    }
    if (consumed) *consumed = at;
    return frames;
}

}  // namespace support
