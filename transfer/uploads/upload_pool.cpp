#include "transfer/uploads/upload_pool.h"

#include <algorithm>
#include <atomic>

#include "core/options/core_options.h"
#include "core/ui/transfer_ui.h"
#include "downloads/peer_downloads.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"
#include "transfer/uploads/upload_slot.h"
#include "v4ada/time/random.h"

namespace {
std::atomic<UploadPool*> gPool{nullptr};
}  // namespace

UploadPool* UploadPool::instance() { return gPool.load(); }

void UploadPool::createInstance() {
    if (!gPool.load()) gPool.store(new UploadPool());
}

void UploadPool::destroyInstance() { delete gPool.exchange(nullptr); }

UploadPool::UploadPool() {
    for (int i = 0; i < kStartSlots; i++) addSlot();
}

UploadPool::~UploadPool() { releaseSlots(); }

void UploadPool::releaseSlots() {
    std::vector<UploadSlot*> slots;
    {
        SysMutexGuard guard(&slotsLock_);
        slots.swap(slots_);
    }
    // Every slot has left the list before the first one queues its users
    // again.
    for (UploadSlot* slot : slots) {
        slot->retire();
        slot->release();
    }
}

const char* UploadPool::queuePath() {
    TransferOptions* options = transferOptions();
    if (!options || options->uploadqPath().isEmpty()) return nullptr;
    return options->uploadqPath().c_str();
}

// ---- the tick ----

bool UploadPool::tick(int elapsedMs) {
    double total = 0.0;
    for (UploadSlot* slot : slotsCopy()) {
        slot->tick(elapsedMs);
        total += slot->speed();
    }
    std::vector<RankNotice> notices;
    notices.swap(notices_);
    for (const RankNotice& notice : notices) notice.connection->sendQueueRank(notice.rank);
    if (CoreOptions* options = coreOptions()) {
        options->setCurrentUpRate(total);
        if (total > options->maxUpSpeed()) options->setMaxUpSpeed(total);
    }
    tuner_.tick(elapsedMs);
    saveMs_ += elapsedMs;
    if (saveMs_ > kSaveEveryMs) {
        saveMs_ = 0;
        if (const char* path = queuePath()) queue_.save(path, false);
    }
    return false;
}

// ---- requests ----

void UploadPool::partRequest(Peer* peer, const UniqueID& hash, const uint32_t starts[3], const uint32_t ends[3]) {
    for (UploadSlot* slot : slotsCopy()) {
        if (slot->partRequest(hash, starts, ends, peer)) return;
    }
    PeerDownloads* downloads = peerDownloads();
    if (downloads && downloads->isPartner(peer)) {
        UploadSlot* slot = partnerSlot(peer);
        slot->tick(0);
        slot->partRequest(hash, starts, ends, peer);
        return;
    }
    // The peer waits for the file; a slot that is free (or busy with a
    // lower score) invites the next user at once.
    queueRequest(peer, hash);
    for (UploadSlot* slot : slotsCopy()) {
        slot->tick(0);
        if (slot->partRequest(hash, starts, ends, peer)) return;
    }
    peer->sendSlotClosed();
}

void UploadPool::queueRequest(Peer* peer, const UniqueID& hash) {
    // A peer that wants a file this client is downloading is a source.
    if (PeerDownloads* downloads = peerDownloads()) downloads->addSource(hash, peer->user(), peer);
    queue_.queueRequest(peer, hash);
}

UploadSlot* UploadPool::partnerSlot(Peer* connection) {
    if (UploadSlot* own = slotOfUser(*connection->user())) {
        own->setScore(UploadSlot::kPartnerScore);
        return own;
    }
    UploadSlot* chosen = nullptr;
    for (UploadSlot* slot : slots_) {
        if (slot->score() >= UploadSlot::kPartnerScore) continue;
        chosen = slot;
        break;
    }
    if (!chosen) chosen = addSlot();
    queue_.addPriorityUser(connection);
    return chosen;
}

// ---- connections ----

void UploadPool::closed(Peer* connection, bool gone) {
    // Every slot hears it: none may keep a connection that is going.
    for (UploadSlot* slot : slotsCopy()) slot->peerClosed(connection, gone);
    notices_.erase(std::remove_if(notices_.begin(), notices_.end(),
                                  [connection](const RankNotice& notice) { return notice.connection == connection; }),
                   notices_.end());
}

void UploadPool::peerClosed(Peer* peer) { closed(peer, false); }

void UploadPool::peerClosed(TCPConnection* connection) {
    if (auto peer = dynamic_cast<Peer*>(connection)) closed(peer, true);
}

void UploadPool::newPeer(TCPConnection* connection) {
    auto peer = dynamic_cast<Peer*>(connection);
    if (!peer) return;
    for (UploadSlot* slot : slotsCopy()) {
        if (slot->newPeer(peer)) return;
    }
}

void UploadPool::connectFailed(uint32_t ip, uint16_t port) {
    for (UploadSlot* slot : slotsCopy()) {
        if (slot->connectFailed(ip, port)) return;
    }
}

void UploadPool::addRankNotice(Peer* connection, uint32_t rank) { notices_.push_back(RankNotice{connection, rank}); }

void UploadPool::dropRankNotice(Peer* connection) {
    auto at = std::find_if(notices_.begin(), notices_.end(),
                           [connection](const RankNotice& notice) { return notice.connection == connection; });
    if (at != notices_.end()) notices_.erase(at);
}

// ---- the downloads' side ----

void UploadPool::sendHaveNotice(const UniqueID& hash, uint32_t crumb) {
    for (UploadSlot* slot : slots_) {
        Upload* upload = slot->upload();
        if (!upload) {
            if (slot->score() < UploadSlot::kPartnerScore || !slot->invited()) continue;
            ClientPool* clients = ClientPool::instance();
            if (Peer* partner = clients ? clients->findByUser(slot->invited()) : nullptr)
                partner->sendHaveCrumb(hash, crumb);
        } else if (upload->hash().equals(hash) && upload->connection()) {
            upload->connection()->sendHaveCrumb(hash, crumb);
        }
    }
}

void UploadPool::pauseFile(const UniqueID& hash, bool pause) {
    for (UploadSlot* slot : slotsCopy()) {
        Upload* upload = slot->upload();
        if (upload && upload->hash().equals(hash)) upload->setPaused(pause);
    }
}

void UploadPool::removePriorityUser(const UserMeta& user) { queue_.removePriorityUser(user); }

// ---- slots ----

bool UploadPool::compare(const UploadSlot* a, const UploadSlot* b) {
    if (!a) return false;
    if (!b) return true;
    int scoreA = const_cast<UploadSlot*>(a)->score();
    int scoreB = const_cast<UploadSlot*>(b)->score();
    return scoreA < scoreB || (scoreA == scoreB && a->timer() > b->timer());
}

UploadSlot* UploadPool::slotOfUser(const UserMeta& user) {
    for (UploadSlot* slot : slots_) {
        if (slot->hasUser(user)) return slot;
    }
    return nullptr;
}

bool UploadPool::slotHasUser(const UserMeta& user) { return slotOfUser(user) != nullptr; }

void UploadPool::slotEntries(std::vector<UploadqEntry>& out) {
    for (UploadSlot* slot : slots_) out.push_back(slot->entry());
}

UploadSlot* UploadPool::addSlot() {
    auto slot = new UploadSlot(this);
    slot->addRef();
    {
        SysMutexGuard guard(&slotsLock_);
        slots_.push_back(slot);
    }
    sortSlots();
    // Told once the pool holds its reference.
    if (TransferUI* ui = currentTransferUI()) ui->uploadSlotChanged(slot);
    return slot;
}

void UploadPool::removeSlot(UploadSlot* slot) {
    {
        SysMutexGuard guard(&slotsLock_);
        auto at = std::find(slots_.begin(), slots_.end(), slot);
        if (at == slots_.end()) return;
        slots_.erase(at);
    }
    if (TransferUI* ui = currentTransferUI()) ui->uploadSlotRemoved(slot);
    slot->retire();
    slot->release();
}

void UploadPool::sortSlots() {
    SysMutexGuard guard(&slotsLock_);
    std::stable_sort(slots_.begin(), slots_.end(), compare);
}

void UploadPool::shuffleSlots() {
    SysMutexGuard guard(&slotsLock_);
    for (size_t i = slots_.size(); i > 1; i--) {
        size_t j = static_cast<size_t>(random_below(static_cast<int>(i)));
        std::swap(slots_[i - 1], slots_[j]);
    }
}

std::vector<UploadSlotInterface*> UploadPool::slotsSnapshot() {
    SysMutexGuard guard(&slotsLock_);
    std::vector<UploadSlotInterface*> out;
    for (UploadSlot* slot : slots_) {
        slot->addRef();
        out.push_back(slot);
    }
    return out;
}

// ---- uploadq.dat ----

void UploadPool::load() {
    if (const char* path = queuePath()) queue_.load(path);
}

void UploadPool::shutdown() {
    if (const char* path = queuePath()) queue_.save(path, true);
    releaseSlots();
}
