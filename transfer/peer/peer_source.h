// PeerSource: a Peer as the download side sees it (SourcePeer). Every Peer
// carries one for its whole life, so the same connection always gives the
// same face; the face only forwards to its Peer.
//
// Task thread only, like the Peer.
#pragma once

#include <cstdint>

#include "downloads/source_peer.h"

class Peer;

class PeerSource final : public SourcePeer {
public:
    explicit PeerSource(Peer* peer) : peer_(peer) {}
    PeerSource(const PeerSource&) = delete;
    PeerSource& operator=(const PeerSource&) = delete;

    UserMeta* user() override;
    int32_t prValue() override;
    // The connection's receive average, bytes per millisecond.
    double receiveAverage() override;
    void addRef(const char* tag) override;
    void release(const char* tag) override;
    void setKeep(bool keep) override;
    void sendFileNameRequest(const UniqueID& hash) override;
    void sendHashSetRequest(const UniqueID& hash) override;
    bool sendFileStatusRequest(PeerDownload* download) override;
    void sendPartRequest(PeerDownload* download, const uint32_t starts[3], const uint32_t ends[3]) override;
    void sendUploadRequest(const UniqueID& hash) override;
    void sendPartnerRequest(const UniqueID& hash) override;
    void sendSlotRelease() override;
    TCPConnection* tcpConnection() override;

    Peer* peer() const { return peer_; }

private:
    Peer* peer_;
};
