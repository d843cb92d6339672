#include "downloads/sources/file_source_state.h"

#include <memory>

#include "core/bus/message_q.h"
#include "core/meta/user_meta.h"
#include "downloads/pool/download.h"
#include "downloads/source_peer.h"
#include "downloads/sources/connecting_states.h"
#include "downloads/sources/file_source.h"
#include "downloads/sources/partner_states.h"
#include "downloads/sources/source_list.h"
#include "downloads/sources/transfer_states.h"

namespace {

constexpr const char* kSlotTag = "MSG_OPEN_SLOT";

}  // namespace

// --- helpers -----------------------------------------------------------------------

bool FileSourceState::sameUser(SourcePeer* connection) const {
    return connection != nullptr && source_->user().sameUser(connection->user());
}

bool FileSourceState::own(SourcePeer* connection) const {
    return connection != nullptr && connection == source_->connection();
}

SourcePeer* FileSourceState::takeSlot(FileSource* source) {
    SourcePeer* connection = source->connection();
    if (connection) connection->addRef(kSlotTag);
    return connection;
}

void FileSourceState::passSlot(SourcePeer* connection) {
    if (connection == nullptr) return;
    // The pool's handler lets go of the use; without a bus nobody would.
    if (messageQ) {
        messageQ->post(MSG_OPEN_SLOT, connection->tcpConnection());
    } else {
        connection->release(kSlotTag);
    }
}

// --- defaults -------------------------------------------------------------------------

void FileSourceState::enter() { source_->releaseRequests(); }

void FileSourceState::noNeededParts() { source_->setState(std::make_unique<FSS_NoNeededParts>(source_)); }

void FileSourceState::cancel() {
    if (SourceList* asked = SourceList::instance()) asked->remove(&source_->user());
    source_->setState(std::make_unique<FSS_BadSource>(source_));
}

void FileSourceState::downloadComplete() {
    cancel();
    // Takes the place of the bad-source state cancel set; the steps cancel
    // left for afterwards (handing a slot on) still run.
    source_->setState(std::make_unique<FSS_Unasked>(source_));
}

void FileSourceState::resetRetries() { source_->setRetries(0); }

void FileSourceState::newPeer(SourcePeer* connection) {
    (void)connection;
    connectedPath();
}

bool FileSourceState::openSlot() {
    source_->setState(std::make_unique<FSS_Transfering>(source_));
    return true;
}

void FileSourceState::peerClosed() { source_->setState(std::make_unique<FSS_Gone>(source_)); }

void FileSourceState::placeInQueue(SourcePeer* connection, uint32_t rank) {
    SourcePeer* mine = source_->connection();
    if ((mine != nullptr && mine == connection) || (mine == nullptr && sameUser(connection))) {
        source_->setQueueRank(rank);
    }
}

bool FileSourceState::connectFailed(uint32_t ip, uint16_t port) {
    if (ip != source_->user().ip() || port != source_->user().port()) return false;
    if (SourceList* asked = SourceList::instance()) asked->removeAddress(ip, port);
    source_->setState(std::make_unique<FSS_Gone>(source_));
    return true;
}

bool FileSourceState::partnerRequested(SourcePeer* connection) {
    if (!sameUser(connection)) return false;
    source_->setState(std::make_unique<FSS_TestPartner>(source_));
    return true;
}

// --- the connected path -------------------------------------------------------------------

void FileSourceState::queueOrNothingNeeded() {
    FileSource* source = source_;
    Download* download = source->owner();
    PartialFile* partial = download->partialFile();
    if (partial != nullptr && partial->needsFrom(source->partMap())) {
        if (SourceList* asked = SourceList::instance()) {
            asked->askOnce(source->connection(), download->fileHash());
        } else {
            source->connection()->sendUploadRequest(download->fileHash());
        }
        source->setState(std::make_unique<FSS_OnQueue>(source));
        return;
    }
    noNeededParts();
}

void FileSourceState::connectedPath() {
    FileSource* source = source_;
    SourcePeer* connection = source->connection();
    if (connection == nullptr) return;
    if (source->mapFresh()) {
        queueOrNothingNeeded();
        return;
    }
    if (connection->sendFileStatusRequest(source->owner())) {
        source->setState(std::make_unique<FSS_WaitForChunksBQ>(source));
        return;
    }
    // A small file: its status is not asked for.
    source->assumeComplete();
    queueOrNothingNeeded();
}

// --- partners ---------------------------------------------------------------------------------

void FileSourceState::tryPartner() {
    FileSource* source = source_;
    if (source->connection() == nullptr) {
        SourcePeerPool* pool = sourcePeerPool();
        SourcePeer* connection = nullptr;
        int result = pool ? pool->connect(&source->user(), &connection) : SourcePeerPool::kNoRoom;
        switch (result) {
            case SourcePeerPool::kNotCalled:
            case SourcePeerPool::kBothLowId:
                source->setState(std::make_unique<FSS_Gone>(source));
                return;
            case SourcePeerPool::kConnecting:
                source->setState(std::make_unique<FSS_AskingPartner>(source));
                return;
            case SourcePeerPool::kConnected:
                if (connection == nullptr) return;
                source->setConnection(connection);
                refPeer(connection);
                break;
            default:
                return;
        }
    }
    if (source->connection()->prValue() == 1) {
        source->setState(std::make_unique<FSS_AskingPartner>(source));
        return;
    }
    source->setPartnerCooldown(1);
    source->setState(std::make_unique<FSS_Unasked>(source));
}

double FileSourceState::partnerScore() {
    FileSource* source = source_;
    if (source->partnerCooldown() > 0) return kNoPartner;
    if (source->partMap()->allEqual(true)) {
        // The user has the whole file: nothing to gain from partnering.
        source->setPartnerCooldown(1);
        return kNoPartner;
    }
    return source->partnerSpeed() > 0 ? source->partnerSpeed() : kUntriedPartner;
}

// --- PeerInterestedFSS --------------------------------------------------------------------------

PeerInterestedFSS::PeerInterestedFSS(FileSource* source, int statusCode) : FileSourceState(source, statusCode) {
    hold(source->connection());
}

PeerInterestedFSS::~PeerInterestedFSS() {
    // A connection the source no longer has may be gone already.
    if (held_ != nullptr && held_ == source_->connection()) held_->release(kUseTag);
}

void PeerInterestedFSS::hold(SourcePeer* connection) {
    if (connection == nullptr || held_ != nullptr) return;
    connection->addRef(kUseTag);
    held_ = connection;
}

void PeerInterestedFSS::newPeer(SourcePeer* connection) {
    hold(connection);
    connectedPath();
}
