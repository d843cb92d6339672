#include "downloads/source_peer_download.h"

#include "downloads/source_peer.h"
#include "v4ada/error/error.h"
#include "v4ada/string/owned_string.h"

namespace {

SourcePeer* faceOf(TCPConnection* connection) {
    SourcePeerPool* pool = sourcePeerPool();
    return pool && connection ? pool->peerOf(connection) : nullptr;
}

}  // namespace

void SourcePeerDownload::dataReceived(i4_file* reader, TCPConnection* connection) {
    if (!dataReceived(reader, faceOf(connection))) throw i4_err(OwnedString("bad data message"));
}

void SourcePeerDownload::noFile(TCPConnection* connection) {
    if (SourcePeer* peer = faceOf(connection)) noFile(peer);
}

void SourcePeerDownload::fileStatus(TCPConnection* connection, BoolArray* crumbs) {
    if (SourcePeer* peer = faceOf(connection)) fileStatus(peer, crumbs);
}

void SourcePeerDownload::fileNameAnswer(const char* name, TCPConnection* connection) {
    if (SourcePeer* peer = faceOf(connection)) fileNameAnswer(name, peer);
}

void SourcePeerDownload::partnerAccepted(TCPConnection* connection) {
    if (SourcePeer* peer = faceOf(connection)) partnerAccepted(peer);
}

void SourcePeerDownload::partnerRefused(TCPConnection* connection) {
    if (SourcePeer* peer = faceOf(connection)) partnerRefused(peer);
}

void SourcePeerDownload::haveNotice(TCPConnection* connection, uint32_t crumb) {
    if (SourcePeer* peer = faceOf(connection)) haveNotice(peer, crumb);
}
