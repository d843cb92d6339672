// The download pool's side of the peer connections: the events of the peer
// pool and the messages that concern no single download, handed to the
// downloads under the list's mutex, and the sources found by the overlay
// or given as links.
#include "core/meta/user_meta.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/source_peer.h"
#include "downloads/sources/source_list.h"

namespace {

Download* downloadOf(void* element) { return static_cast<Download*>(element); }

}  // namespace

SourcePeer* DLPool::peerOf(TCPConnection* connection) {
    SourcePeerPool* pool = sourcePeerPool();
    return pool && connection ? pool->peerOf(connection) : nullptr;
}

void DLPool::openSlot(TCPConnection* connection) {
    SourcePeerPool* pool = sourcePeerPool();
    SourcePeer* peer = peerOf(connection);
    if (peer == nullptr || !pool->contains(peer)) return;
    {
        LLsafeGuard guard(&downloads_);
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(&downloads_, &cursor)) {
            if (!downloadOf(element)->openSlot(peer)) continue;
            peer->release("DLPool::openSlot");
            return;
        }
    }
    // No download wants the slot: it is given back, and the user is no
    // longer counted as asked.
    peer->sendSlotRelease();
    if (SourceList* asked = SourceList::instance()) asked->removeConnection(peer);
    peer->release("DLPool::openSlot 2");
}

void DLPool::uploadEnded(TCPConnection* connection) {
    SourcePeer* peer = peerOf(connection);
    if (peer == nullptr) return;
    LLsafeGuard guard(&downloads_);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&downloads_, &cursor)) {
        if (downloadOf(element)->uploadEnded(peer)) return;
    }
}

void DLPool::placeInQueue(TCPConnection* connection, uint32_t rank) {
    SourcePeer* peer = peerOf(connection);
    if (peer == nullptr) return;
    if (SourceList* asked = SourceList::instance()) asked->setRank(peer->user(), rank);
    LLsafeGuard guard(&downloads_);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&downloads_, &cursor)) downloadOf(element)->placeInQueue(peer, rank);
}

void DLPool::newPeer(TCPConnection* connection) {
    SourcePeer* peer = peerOf(connection);
    if (peer == nullptr) return;
    LLsafeGuard guard(&downloads_);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&downloads_, &cursor)) downloadOf(element)->newPeer(peer);
}

void DLPool::peerClosed(TCPConnection* connection) {
    SourcePeer* peer = peerOf(connection);
    if (peer == nullptr) return;
    LLsafeGuard guard(&downloads_);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&downloads_, &cursor)) downloadOf(element)->peerClosed(peer);
}

void DLPool::connectFailed(uint32_t ip, uint16_t port) {
    LLsafeGuard guard(&downloads_);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&downloads_, &cursor)) downloadOf(element)->connectFailed(ip, port);
}

bool DLPool::acceptPartner(TCPConnection* connection, const UniqueID& hash) {
    PartnerManager* partners = PartnerManager::instance();
    SourcePeer* peer = peerOf(connection);
    return partners != nullptr && peer != nullptr && partners->acceptPartner(peer, hash);
}

bool DLPool::isPartner(TCPConnection* connection) {
    PartnerManager* partners = PartnerManager::instance();
    return partners != nullptr && partners->isPartner(peerOf(connection));
}

void DLPool::partnerClosed(TCPConnection* connection) {
    if (PartnerManager* partners = PartnerManager::instance()) partners->peerClosed(peerOf(connection));
}

void DLPool::addPeerSource(const UniqueID& hash, UserMeta* user, SourcePeer* connection) {
    if (user == nullptr) return;
    Download* download = findDownload(hash);
    if (download == nullptr) return;
    download->addSource(user, connection);
    download->release();
}

void DLPool::addSource(const UniqueID& hash, UserMeta* user, TCPConnection* connection) {
    addPeerSource(hash, user, peerOf(connection));
}

void DLPool::addSource(const UniqueID& hash, UserMeta* user) { addPeerSource(hash, user, nullptr); }

void DLPool::addSourceLink(const UniqueID& hash, const char* link) {
    if (link == nullptr) return;
    Download* download = findDownload(hash);
    if (download == nullptr) return;
    download->addSourceLink(link);
    download->release();
}
