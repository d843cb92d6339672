#include "transfer/peer/peer_sides.h"

#include <atomic>

namespace {
std::atomic<PeerUploads*> gUploads{nullptr};
std::atomic<PeerFriends*> gFriends{nullptr};
std::atomic<PeerMessages*> gMessages{nullptr};
std::atomic<PeerShares*> gShares{nullptr};
}  // namespace

PeerUploads* peerUploads() { return gUploads.load(); }
PeerUploads* setPeerUploads(PeerUploads* uploads) { return gUploads.exchange(uploads); }
PeerFriends* peerFriends() { return gFriends.load(); }
PeerFriends* setPeerFriends(PeerFriends* friends) { return gFriends.exchange(friends); }
PeerMessages* peerMessages() { return gMessages.load(); }
PeerMessages* setPeerMessages(PeerMessages* messages) { return gMessages.exchange(messages); }
PeerShares* peerShares() { return gShares.load(); }
PeerShares* setPeerShares(PeerShares* shares) { return gShares.exchange(shares); }
