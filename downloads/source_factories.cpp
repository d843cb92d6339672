#include "downloads/source_factories.h"

#include <atomic>

namespace {
std::atomic<PeerSourceFactory*> gPeerSources{nullptr};
std::atomic<LinkSourceFactory*> gLinkSources{nullptr};
}  // namespace

PeerSourceFactory* peerSourceFactory() { return gPeerSources.load(); }
LinkSourceFactory* linkSourceFactory() { return gLinkSources.load(); }

PeerSourceFactory* setPeerSourceFactory(PeerSourceFactory* factory) { return gPeerSources.exchange(factory); }
LinkSourceFactory* setLinkSourceFactory(LinkSourceFactory* factory) { return gLinkSources.exchange(factory); }
