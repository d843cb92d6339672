#include "downloads/source_peer.h"

#include <atomic>

namespace {
std::atomic<SourcePeerPool*> gPool{nullptr};
}  // namespace

SourcePeerPool* sourcePeerPool() { return gPool.load(); }

SourcePeerPool* setSourcePeerPool(SourcePeerPool* pool) { return gPool.exchange(pool); }
