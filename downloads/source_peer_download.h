// SourcePeerDownload: a PeerDownload whose connection events are keyed by
// the connection's SourcePeer face. The peer protocol hands its messages
// over with the core's TCPConnection; this turns the connection into its
// face once (through the installed SourcePeerPool) and passes the message
// on to the one set of events a download implements. A message from a
// connection that is no peer of the pool reaches nobody, except a data
// message, whose header is still checked.
//
// Everything runs on the task thread.
#pragma once

#include <cstdint>

#include "downloads/peer_downloads.h"

class SourcePeer;

class SourcePeerDownload : public PeerDownload {
public:
    // --- PeerDownload: the connection turned into its face -------------------
    // A malformed message (empty range, past the end, payload not exactly
    // end - start bytes) raises i4_err, which drops the connection.
    void dataReceived(i4_file* reader, TCPConnection* connection) final;
    void noFile(TCPConnection* connection) final;
    void fileStatus(TCPConnection* connection, BoolArray* crumbs) final;
    void fileNameAnswer(const char* name, TCPConnection* connection) final;
    void partnerAccepted(TCPConnection* connection) final;
    void partnerRefused(TCPConnection* connection) final;
    void haveNotice(TCPConnection* connection, uint32_t crumb) final;

    // --- the same events on connection faces ----------------------------------
    // False for a malformed data message (nothing written); connection is
    // null for a connection that is no peer of the pool.
    virtual bool dataReceived(i4_file* reader, SourcePeer* connection) = 0;
    virtual void noFile(SourcePeer* connection) = 0;
    virtual void fileStatus(SourcePeer* connection, BoolArray* crumbs) = 0;
    virtual void fileNameAnswer(const char* name, SourcePeer* connection) = 0;
    virtual void partnerAccepted(SourcePeer* connection) = 0;
    virtual void partnerRefused(SourcePeer* connection) = 0;
    virtual void haveNotice(SourcePeer* connection, uint32_t crumb) = 0;

protected:
    ~SourcePeerDownload() = default;
};
