#include "transfer/peer/peer_source.h"

#include "transfer/peer/peer.h"

UserMeta* PeerSource::user() { return peer_->user(); }

int32_t PeerSource::prValue() { return peer_->prValue(); }

double PeerSource::receiveAverage() { return peer_->receiveAverage(); }

void PeerSource::addRef(const char* tag) { peer_->addRef(tag); }

void PeerSource::release(const char* tag) { peer_->release(tag); }

void PeerSource::setKeep(bool keep) { peer_->setKeep(keep); }

void PeerSource::sendFileNameRequest(const UniqueID& hash) { peer_->sendFileNameRequest(hash); }

void PeerSource::sendHashSetRequest(const UniqueID& hash) { peer_->sendHashSetRequest(hash); }

bool PeerSource::sendFileStatusRequest(PeerDownload* download) { return peer_->sendFileStatusRequest(download); }

void PeerSource::sendPartRequest(PeerDownload* download, const uint32_t starts[3], const uint32_t ends[3]) {
    peer_->sendPartRequest(download, starts, ends);
}

void PeerSource::sendUploadRequest(const UniqueID& hash) { peer_->sendUploadRequest(hash); }

void PeerSource::sendPartnerRequest(const UniqueID& hash) { peer_->sendPartnerRequest(hash); }

void PeerSource::sendSlotRelease() { peer_->sendSlotRelease(); }

TCPConnection* PeerSource::tcpConnection() { return peer_; }
