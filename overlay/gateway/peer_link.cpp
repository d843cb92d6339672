#include "overlay/gateway/peer_link.h"

#include <atomic>

namespace {
std::atomic<PeerLink*> gLink{nullptr};
}  // namespace

PeerLink* peerLink() { return gLink.load(); }

PeerLink* setPeerLink(PeerLink* link) { return gLink.exchange(link); }
