// The downloads as the client-to-client protocol sees them: the peer
// connection hands every message that concerns a download, an upload slot
// granted to this client or a partner request to these interfaces. The
// download pool implements PeerDownloads and each download PeerDownload;
// start-up installs the pool. While none is installed the protocol acts as
// when no download matches.
//
// Connections are passed as the core's TCPConnection (the peer connection
// of the transfer side); everything runs on the task thread.
#pragma once

#include <cstdint>

class BoolArray;
class PartialFile;
class TCPConnection;
class UniqueID;
class UserMeta;
class i4_file;

// One download, referenced: whoever got it from findDownload releases it.
class PeerDownload {
public:
    virtual const UniqueID& fileHash() = 0;
    // The file size in bytes (below 4 GiB).
    virtual uint64_t fileSize() = 0;
    // The partial file's crumb count: ceil(size / 486,400).
    virtual uint32_t crumbCount() = 0;
    virtual bool hasPartialFile() = 0;
    // Copies of the partial file's verified part and crumb maps; false
    // (and out unchanged) without a partial file.
    virtual bool copyPartMap(BoolArray& out) = 0;
    virtual bool copyCrumbMap(BoolArray& out) = 0;

    // ICLT_DATA: the reader stands after the file hash (u32 start, u32
    // end, then the data, all within the message).
    virtual void dataReceived(i4_file* reader, TCPConnection* connection) = 0;
    virtual void noFile(TCPConnection* connection) = 0;
    // The sender's crumb map (crumbCount bits; not kept by the callee).
    virtual void fileStatus(TCPConnection* connection, BoolArray* crumbs) = 0;
    virtual void fileNameAnswer(const char* name, TCPConnection* connection) = 0;
    virtual void partnerAccepted(TCPConnection* connection) = 0;
    virtual void partnerRefused(TCPConnection* connection) = 0;
    virtual void haveNotice(TCPConnection* connection, uint32_t crumb) = 0;
    // Hash-set answers, the reader after the file hash: part hashes only
    // (ICLT_HASHSET_ANSWER) or with crumb hashes (ICLT_FILE_META). Called
    // only while the download has a partial file; false when the set was
    // not taken.
    virtual bool setHashSet(i4_file* reader) = 0;
    virtual bool setHashSetWithCrumbs(i4_file* reader) = 0;

    // The partial file uploads read from, or null. Not referenced: a
    // holder takes its own reference while the download still holds it.
    // Base: null.
    virtual PartialFile* partialFile();

    // Drops the reference findDownload took.
    virtual void release() = 0;

protected:
    ~PeerDownload() = default;
};

class PeerDownloads {
public:
    // The download of that file hash with a reference for the caller, or
    // null.
    virtual PeerDownload* findDownload(const UniqueID& hash) = 0;
    // ICLT_SLOT_OPEN: the peer granted this client an upload slot. The
    // connection carries a use tagged "ICLT_SLOT_OPEN" that the callee
    // drops.
    virtual void openSlot(TCPConnection* connection) = 0;
    // ICLT_SLOT_CLOSED.
    virtual void uploadEnded(TCPConnection* connection) = 0;
    // ICLT_QUEUE_RANK.
    virtual void placeInQueue(TCPConnection* connection, uint32_t rank) = 0;
    // The user becomes a source of the download of that hash (nothing
    // without one); connection may be null.
    virtual void addSource(const UniqueID& hash, UserMeta* user, TCPConnection* connection) = 0;
    // ICLT_PARTNER_REQUEST: true accepts the peer as a partner.
    virtual bool acceptPartner(TCPConnection* connection, const UniqueID& hash) = 0;
    // Whether any download exists.
    virtual bool hasDownloads() = 0;

    // The partner manager, as the uploads reach it. Whether the
    // connection's user is a partner of one of the downloads (partners
    // skip the upload queue). Base: false.
    virtual bool isPartner(TCPConnection* connection);
    // An upload or invitation of that connection ended because the peer
    // closed or gave its slot back. Base: nothing.
    virtual void partnerClosed(TCPConnection* connection);

protected:
    ~PeerDownloads() = default;
};

// The installed downloads side, or null. Any thread.
PeerDownloads* peerDownloads();
// Returns the previous one; null uninstalls. Not owned.
PeerDownloads* setPeerDownloads(PeerDownloads* downloads);
