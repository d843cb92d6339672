// Peers on scripted sockets, served by a socket pool of their own, for
// tests that look at what the client sends a peer without any network:
// every write is taken whole, and frames(peer) decodes what the peer wrote
// since the last call.
//
//   support::PeerLink link;  // needs ClientPool::instance() for listing
//   Peer* peer = link.open(support::makeUser("lee", ip, 4662, 7));
//   peer->sendSlotOpen(); link.serve();
//   std::vector<support::Frame> got = link.frames(peer);
//
// The link installs a FakeProtocol while it lives; its pool deletes every
// peer still in it when the link goes (each then leaves the peer pool).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/meta/user_meta.h"
#include "support/fake_net.h"
#include "support/peer_wire.h"

class Peer;
class STSocketPool;

namespace support {

class PeerLink {
public:
    PeerLink();
    ~PeerLink();
    PeerLink(const PeerLink&) = delete;
    PeerLink& operator=(const PeerLink&) = delete;

    // A new accepted peer (persistent) with the user record, served by the
    // link's pool. Listed: it joins the peer pool as after its hello (every
    // handler hears newPeer).
    Peer* open(const UserMeta& user, bool listed = true);
    // One service of every peer (each sends up to two queued packets) after
    // elapsedMs.
    void serve(int elapsedMs = 0);
    // Serves until nothing is queued on the peer (at most rounds services);
    // true when its queue ran dry.
    bool flush(Peer* peer, int rounds = 1000000);
    // The frames the peer wrote since the last call.
    std::vector<Frame> frames(Peer* peer);
    // The peer's socket (its writes, readiness and write limit).
    FakeSocket* socketOf(Peer* peer);
    // The pool drops and deletes the peer now.
    void close(Peer* peer);
    STSocketPool* pool() { return pool_.get(); }

private:
    struct Entry {
        FakeSocket* socket;
        size_t consumed = 0;
    };
    std::shared_ptr<FakeProtocol> protocol_;
    ProtocolScope scope_;
    FakeBandwidth bandwidth_;
    std::unique_ptr<STSocketPool> pool_;
    std::map<Peer*, Entry> peers_;
};

// Frames decoded from a byte stream (a whole-frame prefix of it); consumed
// (when given) takes the bytes decoded.
std::vector<Frame> decode_frames(const std::string& bytes, size_t* consumed = nullptr);

}  // namespace support
