// A connection to another client as the download side sees it, and the
// pool through which download sources find and open such connections.
//
// The peer protocol's connections and pool implement these (directly or
// through adapters on the transfer side); start-up installs the pool.
// Downloads never include the transfer side's headers: they reach peers
// through these two interfaces only.
//
// Identity: a SourcePeer stands for one connection for as long as that
// connection lives, so the same connection always gives the same pointer
// and sources compare pointers to recognise their own connection.
//
// Everything runs on the task thread.
#pragma once

#include <cstdint>

class PeerDownload;
class TCPConnection;
class UniqueID;
class UserMeta;

class SourcePeer {
public:
    // The other client's record, with its helloVerified flag (1 when the
    // hello's check code verified).
    virtual UserMeta* user() = 0;
    // The "pr" value of the other client's hello (1: it speaks crumb maps).
    virtual int32_t prValue() = 0;
    // Average receive rate of the connection, bytes per millisecond.
    virtual double receiveAverage() = 0;
    // Uses: a holder keeps the connection open until it drops its use. The
    // tag names the holder and is not stored.
    virtual void addRef(const char* tag) = 0;
    virtual void release(const char* tag) = 0;
    // A kept connection never times out (partners).
    virtual void setKeep(bool keep) = 0;

    // Senders: each queues one message.
    virtual void sendFileNameRequest(const UniqueID& hash) = 0;
    virtual void sendHashSetRequest(const UniqueID& hash) = 0;
    // Only for a download whose partial file is large enough for the other
    // client's kind; true when sent.
    virtual bool sendFileStatusRequest(PeerDownload* download) = 0;
    // Up to three ranges [starts[i], ends[i]); unused slots are 0, 0.
    virtual void sendPartRequest(PeerDownload* download, const uint32_t starts[3], const uint32_t ends[3]) = 0;
    virtual void sendUploadRequest(const UniqueID& hash) = 0;
    virtual void sendPartnerRequest(const UniqueID& hash) = 0;
    // Gives an upload slot that the other client opened for us back.
    virtual void sendSlotRelease() = 0;

    // The connection itself (what bus messages such as MSG_OPEN_SLOT carry).
    virtual TCPConnection* tcpConnection() = 0;

protected:
    ~SourcePeer() = default;
};

class SourcePeerPool {
public:
    // Results of connect.
    static constexpr int kConnected = 0;   // *out is the pool's connection
    static constexpr int kConnecting = 1;  // a newPeer or connectFailed event follows later
    static constexpr int kBothLowId = 2;   // nobody can call the other: nothing follows
    static constexpr int kNotCalled = 3;   // this client itself, or no call-back possible
    static constexpr int kNoRoom = 4;      // too many connections

    // Connects to the user (not persistent). Never calls a peer-event
    // handler before it returns, so a caller inside a download's event may
    // hold that download's lock.
    virtual int connect(UserMeta* user, SourcePeer** out) = 0;
    // The first connection of the same user (UserMeta::sameUser), or null.
    virtual SourcePeer* findByUser(const UserMeta* user) = 0;
    virtual bool contains(const SourcePeer* peer) = 0;
    // Connections of the socket pool (peers and all others).
    virtual int connectionCount() = 0;
    // The face of a peer connection of the pool, or null for any other
    // connection. It answers for a connection until the connection's
    // peerClosed event has been delivered to every handler.
    virtual SourcePeer* peerOf(TCPConnection* connection) = 0;

protected:
    ~SourcePeerPool() = default;
};

// The installed pool, or null (then nothing can be connected). Any thread.
SourcePeerPool* sourcePeerPool();
// Returns the previous one; null uninstalls. Not owned.
SourcePeerPool* setSourcePeerPool(SourcePeerPool* pool);
