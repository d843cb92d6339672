#include "downloads/sources/connecting_states.h"

#include <memory>

#include "core/meta/user_meta.h"
#include "core/options/core_options.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/source_peer.h"
#include "downloads/sources/file_source.h"
#include "downloads/sources/partner_states.h"
#include "downloads/sources/source_list.h"
#include "downloads/sources/transfer_states.h"

namespace {

// Asks the user for a slot (once per user in the asked-source list's
// time).
void askForSlot(FileSource* source) {
    Download* download = source->owner();
    if (SourceList* asked = SourceList::instance()) {
        asked->askOnce(source->connection(), download->fileHash());
    } else if (source->connection()) {
        source->connection()->sendUploadRequest(download->fileHash());
    }
}

bool needed(FileSource* source) {
    PartialFile* partial = source->owner()->partialFile();
    return partial != nullptr && partial->needsFrom(source->partMap());
}

}  // namespace

// --- FSS_Unasked --------------------------------------------------------------------

bool FSS_Unasked::tryAsk() {
    FileSource* source = source_;
    SourcePeerPool* pool = sourcePeerPool();
    CoreOptions* options = coreOptions();
    int maxCon = options ? options->maxConnections() : kDefaultMaxConnections;
    if (pool == nullptr || pool->connectionCount() >= maxCon + 2) return true;
    if (SourceList* asked = SourceList::instance()) {
        if (AskedSource* entry = asked->find(&source->user())) {
            source->user().assign(&entry->user);
            source->setQueueRank(entry->rank);
            source->setState(std::make_unique<FSS_OnQueue>(source));
            return true;
        }
    }
    if (DLPool* downloads = DLPool::instance()) downloads->holdGate();
    SourcePeer* connection = nullptr;
    switch (pool->connect(&source->user(), &connection)) {
        case SourcePeerPool::kNotCalled:
            source->setState(std::make_unique<FSS_BadSource>(source));
            break;
        case SourcePeerPool::kBothLowId:
            source->setState(std::make_unique<FSS_Gone>(source));
            break;
        case SourcePeerPool::kConnecting:
            source->setState(std::make_unique<FSS_WaitForConnection>(source));
            break;
        case SourcePeerPool::kConnected:
            // The source adopts the connection and its state runs the
            // connected path.
            if (connection) source->newPeer(connection);
            break;
        default:
            break;
    }
    return true;
}

void FSS_Unasked::placeInQueue(SourcePeer* connection, uint32_t rank) {
    if (!sameUser(connection)) return;
    FileSource* source = source_;
    source->setQueueRank(rank);
    source->setState(std::make_unique<FSS_OnQueue>(source));
}

// --- FSS_WaitForConnection -------------------------------------------------------------

bool FSS_WaitForConnection::tick(int elapsedMs) {
    waitedMs_ += elapsedMs;
    if (waitedMs_ > kWaitMs) source_->setState(std::make_unique<FSS_Gone>(source_));
    return true;
}

// --- FSS_WaitForChunksBQ -----------------------------------------------------------------

void FSS_WaitForChunksBQ::partMapChanged() {
    FileSource* source = source_;
    if (needed(source)) {
        askForSlot(source);
        source->setState(std::make_unique<FSS_OnQueue>(source));
    } else {
        source->setState(std::make_unique<FSS_NoNeededParts>(source));
    }
}

bool FSS_WaitForChunksBQ::noFile(SourcePeer* connection) {
    if (!own(connection)) return false;
    source_->setState(std::make_unique<FSS_BadSource>(source_));
    return true;
}

// --- FSS_OnQueue ----------------------------------------------------------------------------

FSS_OnQueue::FSS_OnQueue(FileSource* source) : FileSourceState(source, kFssOnQueue) {
    held_ = source->connection();
    if (held_) held_->addRef(kUseTag);
}

FSS_OnQueue::~FSS_OnQueue() {
    if (held_ != nullptr && held_ == source_->connection()) held_->release(kUseTag);
}

void FSS_OnQueue::placeInQueue(SourcePeer* connection, uint32_t rank) {
    FileSource* source = source_;
    SourcePeer* mine = source->connection();
    if (mine == nullptr) {
        if (sameUser(connection)) source->setQueueRank(rank);
        return;
    }
    if (connection != mine) return;
    source->setQueueRank(rank);
    // Once the rank is known the connection need not be kept open: the
    // user connects again when a slot opens.
    if (held_ == mine) {
        held_ = nullptr;
        mine->release(kUseTag);
    }
}

void FSS_OnQueue::pause() {
    FileSource* source = source_;
    if (SourceList* asked = SourceList::instance()) asked->remove(&source->user());
    source->setState(std::make_unique<FSS_Unasked>(source));
}

bool FSS_OnQueue::tick(int elapsedMs) {
    waitedMs_ += elapsedMs;
    if (waitedMs_ <= kUnverifiedWaitMs) return true;
    if (source_->user().helloVerified() == 0 || waitedMs_ > kVerifiedWaitMs) {
        source_->setState(std::make_unique<FSS_Unasked>(source_));
    }
    return true;
}

// --- FSS_WaitForChunks -------------------------------------------------------------------

void FSS_WaitForChunks::partMapChanged() {
    FileSource* source = source_;
    if (needed(source)) {
        askForSlot(source);
        source->setState(std::make_unique<FSS_Transfering>(source));
    } else {
        source->setState(std::make_unique<FSS_NoNeededParts>(source));
    }
}

bool FSS_WaitForChunks::uploadEnded(SourcePeer* connection) {
    if (!own(connection)) return false;
    source_->setState(std::make_unique<FSS_OnQueue>(source_));
    return true;
}

bool FSS_WaitForChunks::noFile(SourcePeer* connection) {
    if (!own(connection)) return false;
    FileSource* source = source_;
    SourcePeer* slot = takeSlot(source);
    source->setState(std::make_unique<FSS_BadSource>(source));
    source->afterwards([slot] { passSlot(slot); });
    return true;
}

void FSS_WaitForChunks::cancel() {
    FileSource* source = source_;
    SourcePeer* slot = takeSlot(source);
    FileSourceState::cancel();
    source->afterwards([slot] { passSlot(slot); });
}

// --- FSS_NoNeededParts ---------------------------------------------------------------------

FSS_NoNeededParts::FSS_NoNeededParts(FileSource* source, bool askingPartner)
    : FileSourceState(source, kFssNoNeeded),
      inPartnerTable_(askingPartner),
      freedSeen_(source->owner()->progress()->freedCount()) {}

FSS_NoNeededParts::~FSS_NoNeededParts() { leavePartnerTable(); }

void FSS_NoNeededParts::goOn() {
    FileSource* source = source_;
    if (SourceList* asked = SourceList::instance()) asked->remove(&source->user());
    source->setState(std::make_unique<FSS_Unasked>(source));
}

void FSS_NoNeededParts::leavePartnerTable() {
    if (!inPartnerTable_) return;
    inPartnerTable_ = false;
    source_->setPartnerCooldown(1);
    if (PartnerManager* partners = PartnerManager::instance()) partners->removePartner(source_);
}

bool FSS_NoNeededParts::tick(int elapsedMs) {
    if (inPartnerTable_) {
        askedMs_ += elapsedMs;
        if (askedMs_ > kAnswerMs) leavePartnerTable();
    }
    if (!source_->mapFresh()) {
        source_->setState(std::make_unique<FSS_Unasked>(source_));
        return true;
    }
    DLProgress* progress = source_->owner()->progress();
    if (progress->freedCount() != freedSeen_) {
        freedSeen_ = progress->freedCount();
        if (progress->hasFreeFor(source_->partMap())) goOn();
    }
    return true;
}

void FSS_NoNeededParts::partMapChanged() {
    if (needed(source_)) goOn();
}

bool FSS_NoNeededParts::partnerAccepted(SourcePeer* connection) {
    if (!own(connection)) return false;
    // The test takes the place in the table over.
    inPartnerTable_ = false;
    source_->setState(std::make_unique<FSS_TestPartner>(source_));
    return true;
}

bool FSS_NoNeededParts::partnerRefused(SourcePeer* connection) {
    if (!own(connection) || !inPartnerTable_) return false;
    leavePartnerTable();
    return true;
}

// --- FSS_Gone ---------------------------------------------------------------------------------

int64_t FSS_Gone::backOffMs(int32_t retries) {
    if (retries < 0) retries = 0;
    if (retries > kMaxRetries + 1) retries = kMaxRetries + 1;
    // 600,000 x 24^r / 10^r, in whole numbers: no rounding on the way.
    int64_t numerator = kBaseWaitMs;
    int64_t denominator = 1;
    for (int32_t i = 0; i < retries; i++) {
        numerator *= 24;
        denominator *= 10;
    }
    return numerator / denominator;
}

FSS_Gone::FSS_Gone(FileSource* source) : FileSourceState(source, kFssGone), waitMs_(backOffMs(source->retries())) {}

bool FSS_Gone::tick(int elapsedMs) {
    waitedMs_ += elapsedMs;
    if (waitedMs_ <= waitMs_) return true;
    FileSource* source = source_;
    source->setRetries(source->retries() + 1);
    if (source->retries() > kMaxRetries) {
        source->setState(std::make_unique<FSS_BadSource>(source));
    } else {
        source->setState(std::make_unique<FSS_Unasked>(source));
    }
    return true;
}

void FSS_Gone::resetRetries() {
    source_->setRetries(0);
    source_->setState(std::make_unique<FSS_Unasked>(source_));
}

void FSS_Gone::downloadComplete() {
    if (SourceList* asked = SourceList::instance()) asked->remove(&source_->user());
}

void FSS_Gone::newPeer(SourcePeer* connection) {
    (void)connection;
    resetRetries();
}
