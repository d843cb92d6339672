#include "downloads/peer_downloads.h"

#include <atomic>

namespace {
std::atomic<PeerDownloads*> gDownloads{nullptr};
}  // namespace

PeerDownloads* peerDownloads() { return gDownloads.load(); }

PeerDownloads* setPeerDownloads(PeerDownloads* downloads) { return gDownloads.exchange(downloads); }

PartialFile* PeerDownload::partialFile() { return nullptr; }

bool PeerDownloads::isPartner(TCPConnection*) { return false; }

void PeerDownloads::partnerClosed(TCPConnection*) {}
