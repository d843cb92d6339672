#include "downloads/sources/partner_states.h"

#include <memory>

#include "downloads/pool/download.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/source_peer.h"
#include "downloads/sources/connecting_states.h"
#include "downloads/sources/file_source.h"

namespace {

void leaveTable(FileSource* source) {
    source->setPartnerCooldown(1);
    if (PartnerManager* partners = PartnerManager::instance()) partners->removePartner(source);
}

void joinTable(FileSource* source) {
    if (PartnerManager* partners = PartnerManager::instance()) partners->addPartner(source);
}

}  // namespace

// --- FSS_Partner ----------------------------------------------------------------------------

FSS_Partner::FSS_Partner(FileSource* source) : FSS_Transfering(source, 0, kFssPartner) {
    source->setPartnerCooldown(0);
}

FSS_Partner::~FSS_Partner() {
    FileSource* source = source_;
    source->setPartnerSpeed(FSS_Transfering::getSpeed());
    if (weighted_) source->owner()->changeWeight(source->partMap(), -kExtraWeight);
    if (inPartnerTable_) leaveTable(source);
}

void FSS_Partner::enter() {
    FileSource* source = source_;
    // Normally in the table already, with its connection kept open.
    joinTable(source);
    source->owner()->changeWeight(source->partMap(), kExtraWeight);
    weighted_ = true;
    FSS_Transfering::enter();
}

void FSS_Partner::stopPartner() {
    FileSource* source = source_;
    inPartnerTable_ = false;
    source->setState(std::make_unique<FSS_Transfering>(source, 0));
    source->afterwards([source] { source->setPartnerCooldown(kDroppedCooldown); });
}

void FSS_Partner::noNeededParts() {
    // A partner stays a partner: only a stale map is refreshed.
    FileSource* source = source_;
    if (source->mapFresh()) return;
    SourcePeer* connection = source->connection();
    if (connection && connection->sendFileStatusRequest(source->owner())) return;
    source->assumeComplete();
    requestChunks();
}

void FSS_Partner::pause() {
    FileSource* source = source_;
    pauseTransfer();
    source->afterwards([source] { source->setPartnerCooldown(0); });
}

void FSS_Partner::peerClosed() {
    FileSource* source = source_;
    closeTransfer();
    source->afterwards([source] { source->setPartnerCooldown(0); });
}

// --- FSS_TestPartner ------------------------------------------------------------------------

FSS_TestPartner::FSS_TestPartner(FileSource* source) : FSS_Partner(source) { joinTable(source); }

bool FSS_TestPartner::tick(int elapsedMs) {
    testedMs_ += elapsedMs;
    if (testedMs_ <= kTestMs) return true;
    testedMs_ = 0;
    FileSource* source = source_;
    PartnerManager* partners = PartnerManager::instance();
    if (partners != nullptr && partners->wantsPartner(source)) {
        inPartnerTable_ = false;
        source->setState(std::make_unique<FSS_Partner>(source));
        source->afterwards([source, partners] {
            partners->dropWorst();
            // One tested while the table was full takes the place just freed.
            if (source->statusCode() == kFssPartner) partners->addPartner(source);
        });
    } else {
        source->setState(std::make_unique<FSS_Transfering>(source, 0));
    }
    return true;
}

// --- FSS_AskingPartner ----------------------------------------------------------------------

FSS_AskingPartner::FSS_AskingPartner(FileSource* source) : PeerInterestedFSS(source, kFssAskingPartner) {
    joinTable(source);
    if (SourcePeer* connection = source->connection()) connection->sendPartnerRequest(source->owner()->fileHash());
}

FSS_AskingPartner::~FSS_AskingPartner() {
    if (inPartnerTable_) leaveTable(source_);
}

void FSS_AskingPartner::newPeer(SourcePeer* connection) {
    FileSource* source = source_;
    hold(connection);
    if (connection->prValue() == 1) {
        const UniqueID& hash = source->owner()->fileHash();
        if (source->fileName()[0] == 0) connection->sendFileNameRequest(hash);
        connection->sendPartnerRequest(hash);
        askedMs_ = 0;
        return;
    }
    // The user speaks no partner messages: an ordinary source.
    if (PartnerManager* partners = PartnerManager::instance()) partners->removePartner(source);
    source->setState(std::make_unique<FSS_WaitForConnection>(source));
    source->afterwards([source, connection] { source->newPeer(connection); });
}

bool FSS_AskingPartner::tick(int elapsedMs) {
    askedMs_ += elapsedMs;
    FileSource* source = source_;
    if (source->connection() != nullptr) {
        if (askedMs_ > kAnswerMs) source->setState(std::make_unique<FSS_Unasked>(source));
    } else if (askedMs_ > kConnectMs) {
        source->setState(std::make_unique<FSS_Gone>(source));
    }
    return true;
}

bool FSS_AskingPartner::openSlot() {
    inPartnerTable_ = false;
    source_->setState(std::make_unique<FSS_TransferingAskingPartner>(source_, 0));
    return true;
}

bool FSS_AskingPartner::partnerAccepted(SourcePeer* connection) {
    if (!own(connection)) return false;
    inPartnerTable_ = false;
    source_->setState(std::make_unique<FSS_TestPartner>(source_));
    return true;
}

bool FSS_AskingPartner::partnerRefused(SourcePeer* connection) {
    if (!own(connection)) return false;
    connectedPath();
    return true;
}

void FSS_AskingPartner::stopPartner() {
    FileSource* source = source_;
    inPartnerTable_ = false;
    source->setState(std::make_unique<FSS_Unasked>(source));
    source->afterwards([source] { source->setPartnerCooldown(FSS_Partner::kDroppedCooldown); });
}

void FSS_AskingPartner::pause() {
    FileSource* source = source_;
    source->setState(std::make_unique<FSS_Unasked>(source));
    source->afterwards([source] { source->setPartnerCooldown(0); });
}

void FSS_AskingPartner::peerClosed() {
    FileSource* source = source_;
    FileSourceState::peerClosed();
    source->afterwards([source] { source->setPartnerCooldown(0); });
}
