#include "downloads/sources/transfer_states.h"

#include <algorithm>
#include <memory>

#include "core/meta/user_meta.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/source_peer.h"
#include "downloads/sources/connecting_states.h"
#include "downloads/sources/file_source.h"
#include "downloads/sources/partner_states.h"
#include "downloads/sources/source_list.h"
#include "v4ada/containers/ll.h"

// --- FSS_Transfering ------------------------------------------------------------------

FSS_Transfering::FSS_Transfering(FileSource* source, int64_t stallMs, int statusCode)
    : PeerInterestedFSS(source, statusCode), stallMs_(stallMs) {
    if (DLPool* pool = DLPool::instance()) {
        pool->changeTransferring(1);
        counted_ = true;
    }
}

FSS_Transfering::~FSS_Transfering() {
    if (!counted_) return;
    if (DLPool* pool = DLPool::instance()) pool->changeTransferring(-1);
}

double FSS_Transfering::getSpeed() {
    SourcePeer* connection = source_->connection();
    return connection ? connection->receiveAverage() : 0.0;
}

uint64_t FSS_Transfering::cap() const { return source_->user().helloVerified() ? 0 : kUnverifiedCap; }

namespace {

void sendRequests(FileSource* source) {
    SourcePeer* connection = source->connection();
    if (connection == nullptr) return;
    // Files are below 4 GiB: every offset fits the request's 32 bits.
    uint32_t starts[FileSource::kRequestSlots];
    uint32_t ends[FileSource::kRequestSlots];
    for (int i = 0; i < FileSource::kRequestSlots; i++) {
        starts[i] = static_cast<uint32_t>(source->requestStart(i));
        ends[i] = static_cast<uint32_t>(source->requestEnd(i));
    }
    connection->sendPartRequest(source->owner(), starts, ends);
}

}  // namespace

void FSS_Transfering::requestChunks() {
    FileSource* source = source_;
    DLProgress* progress = source->owner()->progress();
    const uint64_t limit = cap();
    bool allFree = true;
    for (int i = 0; i < FileSource::kRequestSlots; i++) allFree = allFree && source->requestEnd(i) == 0;
    bool picked = false;
    for (int i = 0; i < FileSource::kRequestSlots; i++) {
        if (source->requestEnd(i) != 0) continue;
        uint64_t start = 0;
        uint64_t end = 0;
        if (progress->pickRange(source->partMap(), &start, &end, limit)) {
            source->setRequest(i, start, end);
            picked = true;
        } else if (takeOver(i, limit)) {
            picked = true;
        }
    }
    if (picked) {
        sendRequests(source);
    } else if (allFree) {
        noNeededParts();
    }
}

bool FSS_Transfering::takeOver(int slot, uint64_t limit) {
    FileSource* source = source_;
    Download* download = source->owner();
    const double mine = getSpeed();
    auto& bySpeed = source->scratch();
    bySpeed.clear();
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(download->sources(), &cursor)) {
        auto* other = static_cast<FileSourceInterface*>(element);
        bySpeed.emplace_back(other->getSpeed(), other);
    }
    std::stable_sort(bySpeed.begin(), bySpeed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const BoolArray* map = source->partMap();
    for (const auto& [speed, other] : bySpeed) {
        int code = other->statusCode();
        if (code != kFssTransferring && code != kFssPartner) continue;
        // Only from a source this one is more than 1.5 times as fast as.
        if (!(mine > speed * kTakeOverFactor)) return false;
        uint64_t starts[3];
        uint64_t ends[3];
        other->getRequests(starts, ends);
        for (int j = FileSource::kRequestSlots - 1; j >= 0; j--) {
            if (ends[j] == 0 || starts[j] >= ends[j]) continue;
            uint64_t first = starts[j] / kCrumbSize;
            uint64_t last = (ends[j] - 1) / kCrumbSize;
            if (last >= map->count() || !map->get(static_cast<unsigned>(first)) ||
                !map->get(static_cast<unsigned>(last)))
                continue;
            other->dropRequest(j);
            uint64_t start = 0;
            uint64_t end = 0;
            bool got = download->progress()->pickRange(map, &start, &end, limit);
            if (got) source->setRequest(slot, start, end);
            // The slower source asks for something else.
            other->requestChunks();
            return got;
        }
    }
    return false;
}

bool FSS_Transfering::openSlot() {
    if (source_->requestEnd(0) != 0) {
        sendRequests(source_);
    } else {
        requestChunks();
    }
    return true;
}

void FSS_Transfering::dataReceived(SourcePeer* connection) {
    if (!own(connection)) return;
    stallMs_ = 0;
    FileSource* source = source_;
    if (source->requestEnd(0) == 0) return;
    PartialFile* partial = source->owner()->partialFile();
    if (partial == nullptr || partial->gapList().overlaps(source->requestStart(0), source->requestEnd(0))) return;
    for (int i = 0; i + 1 < FileSource::kRequestSlots; i++) {
        source->setRequest(i, source->requestStart(i + 1), source->requestEnd(i + 1));
    }
    source->setRequest(FileSource::kRequestSlots - 1, 0, 0);
    requestChunks();
}

void FSS_Transfering::noNeededParts() {
    FileSource* source = source_;
    if (source->mapFresh()) {
        SourcePeer* slot = takeSlot(source);
        source->setState(std::make_unique<FSS_NoNeededParts>(source));
        source->afterwards([slot] { passSlot(slot); });
        return;
    }
    SourcePeer* connection = source->connection();
    if (connection && connection->sendFileStatusRequest(source->owner())) {
        // The slot is kept until the new map comes.
        source->setState(std::make_unique<FSS_WaitForChunks>(source));
        return;
    }
    // A small file: the user has all of it; the next pass ends above.
    source->assumeComplete();
    requestChunks();
}

bool FSS_Transfering::tick(int elapsedMs) {
    stallMs_ += elapsedMs;
    if (stallMs_ > kStallMs) source_->setState(std::make_unique<FSS_Unasked>(source_));
    return true;
}

bool FSS_Transfering::uploadEnded(SourcePeer* connection) {
    if (!own(connection)) return false;
    source_->setState(std::make_unique<FSS_OnQueue>(source_));
    return true;
}

bool FSS_Transfering::noFile(SourcePeer* connection) {
    if (!own(connection)) return false;
    FileSource* source = source_;
    SourcePeer* slot = takeSlot(source);
    source->setState(std::make_unique<FSS_BadSource>(source));
    source->afterwards([slot] { passSlot(slot); });
    return true;
}

void FSS_Transfering::pauseTransfer() {
    FileSource* source = source_;
    SourcePeer* slot = takeSlot(source);
    if (SourceList* asked = SourceList::instance()) asked->removeConnection(source->connection());
    source->setState(std::make_unique<FSS_Unasked>(source));
    source->afterwards([slot] { passSlot(slot); });
}

void FSS_Transfering::pause() { pauseTransfer(); }

void FSS_Transfering::cancel() {
    FileSource* source = source_;
    SourcePeer* slot = takeSlot(source);
    FileSourceState::cancel();
    source->afterwards([slot] { passSlot(slot); });
}

void FSS_Transfering::closeTransfer() {
    if (SourceList* asked = SourceList::instance()) asked->removeConnection(source_->connection());
    FileSourceState::peerClosed();
}

void FSS_Transfering::peerClosed() { closeTransfer(); }

void FSS_Transfering::tryPartner() {
    FileSource* source = source_;
    SourcePeer* connection = source->connection();
    if (connection && connection->prValue() == 1) {
        source->setState(std::make_unique<FSS_TransferingAskingPartner>(source, stallMs_));
        return;
    }
    source->setPartnerCooldown(1);
}

// --- FSS_TransferingAskingPartner ----------------------------------------------------------

FSS_TransferingAskingPartner::FSS_TransferingAskingPartner(FileSource* source, int64_t stallMs)
    : FSS_Transfering(source, stallMs, kFssTransferring) {
    if (PartnerManager* partners = PartnerManager::instance()) partners->addPartner(source);
    if (SourcePeer* connection = source->connection()) connection->sendPartnerRequest(source->owner()->fileHash());
}

FSS_TransferingAskingPartner::~FSS_TransferingAskingPartner() {
    if (!inPartnerTable_) return;
    source_->setPartnerCooldown(1);
    if (PartnerManager* partners = PartnerManager::instance()) partners->removePartner(source_);
}

bool FSS_TransferingAskingPartner::tick(int elapsedMs) {
    askedMs_ += elapsedMs;
    if (askedMs_ <= kAnswerMs) return FSS_Transfering::tick(elapsedMs);
    // No answer: the partnership is given up.
    source_->setState(std::make_unique<FSS_Transfering>(source_, stallMs_));
    return true;
}

bool FSS_TransferingAskingPartner::partnerAccepted(SourcePeer* connection) {
    if (!own(connection)) return false;
    inPartnerTable_ = false;
    source_->setState(std::make_unique<FSS_TestPartner>(source_));
    return true;
}

bool FSS_TransferingAskingPartner::partnerRefused(SourcePeer* connection) {
    if (!own(connection)) return false;
    source_->setState(std::make_unique<FSS_Transfering>(source_, stallMs_));
    return true;
}

bool FSS_TransferingAskingPartner::partnerRequested(SourcePeer* connection) {
    if (!sameUser(connection)) return false;
    inPartnerTable_ = false;
    source_->setState(std::make_unique<FSS_TestPartner>(source_));
    return true;
}

void FSS_TransferingAskingPartner::stopPartner() {
    inPartnerTable_ = false;
    source_->setState(std::make_unique<FSS_Transfering>(source_, stallMs_));
}

bool FSS_TransferingAskingPartner::uploadEnded(SourcePeer* connection) {
    if (!own(connection)) return false;
    inPartnerTable_ = false;
    source_->setState(std::make_unique<FSS_AskingPartner>(source_));
    return true;
}

void FSS_TransferingAskingPartner::noNeededParts() {
    FileSource* source = source_;
    if (source->mapFresh()) {
        // The open partner request and its place in the table go along.
        inPartnerTable_ = false;
        SourcePeer* slot = takeSlot(source);
        source->setState(std::make_unique<FSS_NoNeededParts>(source, true));
        source->afterwards([slot] { passSlot(slot); });
        return;
    }
    SourcePeer* connection = source->connection();
    if (connection && connection->sendFileStatusRequest(source->owner())) return;
    source->assumeComplete();
    requestChunks();
}

void FSS_TransferingAskingPartner::pause() {
    FileSource* source = source_;
    pauseTransfer();
    source->afterwards([source] { source->setPartnerCooldown(0); });
}

void FSS_TransferingAskingPartner::peerClosed() {
    FileSource* source = source_;
    closeTransfer();
    source->afterwards([source] { source->setPartnerCooldown(0); });
}
