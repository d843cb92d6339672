// Peer: one connection to another client, in either direction. It speaks
// the client-to-client protocol (transfer/peer/iclt_opcodes.h): the hello
// exchange with its check code, the dispatch of every received message to
// the part of the system it concerns, one sender per outgoing message, an
// idle time-out, and a use count with which other parts hold it open.
//
// A peer whose hello is done joins the ClientPool, which tells its
// followers; the destructor takes it out again. Everything runs on the
// task thread inside the socket pool's service, except the destructor of
// an outgoing peer whose connect failed (on its connect thread).
#pragma once

#include <cstdint>

#include "core/meta/user_meta.h"
#include "core/net/tcp_connection.h"
#include "transfer/peer/peer_source.h"

class PeerDownload;
class TCPPacket;
class UniqueID;

// The record MSG_CONNECT_FAILED carries; its handler deletes it.
struct ConnectFailedRecord {
    uint32_t ip;
    uint16_t port;
};

class Peer : public TCPConnection {
public:
    // idleMs before the first message: a silent connection closes after a
    // little more than 60000 ms, an active one after 120000 ms of silence.
    static constexpr int kIdleStartMs = 60000;
    static constexpr int kIdleLimitMs = 120000;
    // An accepted connection whose hello is not done after this long is
    // closed (outgoing ones keep their connect and idle time-outs).
    static constexpr int kHelloLimitMs = 10000;
    // The smallest partial files worth a file-status request: one crumb
    // for peers that speak crumb maps, one part for the others.
    static constexpr uint64_t kStatusMinCrumbPeer = 486400;
    static constexpr uint64_t kStatusMinPartPeer = 9728000;
    // The longest frame taken before the hello is done; after it, the
    // frame limit of every connection.
    static constexpr uint32_t kHelloFrameMax = 64u * 1024u;

    // Outgoing, to ip:port; not yet connected.
    Peer(uint32_t ip, uint16_t port, bool persistent);
    // Accepted on the socket (owned); always persistent.
    explicit Peer(i4_socket* socket);
    // Leaves the pool (its followers hear peerClosed when it was listed).
    ~Peer() override;

    void tick(int elapsedMs) override;
    const char* status(OwnedString& out) override;
    bool onMessage(uint8_t opcode, i4_ram_file_class* body) override;
    bool onFirstMessage(uint8_t opcode, i4_ram_file_class* body) override;
    TCPConnection* makeConnection(i4_socket* socket) override;
    // Sends ICLT_HELLO.
    void connected() override;
    // Posts MSG_CONNECT_FAILED with the address (connect thread).
    void connectFailed() override;
    // The other client's nickname.
    const char* name() override;

    // Uses: the tag names the holder and is not stored. The last release
    // of a non-persistent peer closes it once its queue is sent.
    void addRef(const char* tag);
    void release(const char* tag);
    // Persistent and without holders: the pool may close it for room.
    bool isDroppable() const { return persistent_ && useCount_ <= 0; }
    // A kept connection never times out; keeping also restarts the count.
    void setKeep(bool keep);
    // The idle count starts again from ms.
    void setIdleMs(int32_t ms) { idleMs_ = ms; }
    // Dropped at its next service.
    void markForClose() { markCloseNow(); }
    // Data went out on the connection: the idle count starts again, so a
    // connection that carries data never times out.
    void resetIdle() { idleMs_ = 1; }
    // 0 means the socket's remote address; the value becomes the user's
    // address and the connection's.
    void setAddress(uint32_t ip);
    // A user claiming a high ID other than the socket's address hears
    // ICLT_ADDRESS_MISMATCH.
    void checkAddress();

    // The pace of the last upload to this peer (bytes per ms and data
    // bytes per packet; chunk 0: none yet). Task thread.
    double uploadSpeed() const { return uploadSpeed_; }
    uint32_t uploadChunk() const { return uploadChunk_; }
    void setUploadPace(double speed, uint32_t chunk) {
        uploadSpeed_ = speed;
        uploadChunk_ = chunk;
    }

    UserMeta* user() { return &user_; }
    // The address the socket is connected to, whatever the user claims;
    // the remote address when the socket does not tell.
    uint32_t socketIp();
    int32_t prValue() const { return prValue_; }
    // The face the download sources use.
    SourcePeer* sourceFace() { return &face_; }
    int32_t useCount() const { return useCount_; }
    int32_t idleMs() const { return idleMs_; }
    bool keep() const { return keep_; }
    bool persistent() const { return persistent_; }
    bool helloDone() const { return helloDone_; }

    // Senders: each queues one message.
    void sendHelloAnswer();
    // ICLT_FILE_META_REQUEST to a peer with prValue 1, else
    // ICLT_HASHSET_REQUEST.
    void sendHashSetRequest(const UniqueID& hash);
    // Only for a download with a partial file above one crumb (prValue 1)
    // or one part (others); true when sent.
    bool sendFileStatusRequest(PeerDownload* download);
    void sendPartRequest(PeerDownload* download, const uint32_t starts[3], const uint32_t ends[3]);
    // ICLT_FILE_META with the shared file's hash sets, or ICLT_NO_SUCH_FILE.
    void sendFileMeta(const UniqueID& hash);
    // ICLT_FILE_STATUS for a shared file, or ICLT_NO_SUCH_FILE.
    void sendFileStatus(const UniqueID& hash);
    // ICLT_DIRECTORY_LIST_REQUEST for null, else
    // ICLT_DIRECTORY_FILES_REQUEST for the directory.
    void sendDirectoryRequest(const char* directory);
    void sendDirectoryFiles(const char* directory);
    void sendDirectoryList();
    void sendFileViewRefused();
    void sendSlotRelease();
    void sendUploadRequest(const UniqueID& hash);
    void sendSlotOpen();
    void sendSlotClosed();
    void sendNoSuchFile(const UniqueID& hash);
    void sendFileNameRequest(const UniqueID& hash);
    void sendCallbackRequest(uint32_t ip, uint16_t port);
    void sendQueueRank(uint32_t rank);
    // Also counts as traffic for the idle time-out.
    void sendPing();
    void sendPartnerRequest(const UniqueID& hash);
    void sendHaveCrumb(const UniqueID& hash, uint32_t crumb);
    void sendPortReachable();

private:
    // Whether the log line for sending this directory's files (null: the
    // directory list) to this peer is due: once a minute at most, within the
    // peer's few lines a minute.
    bool directoryLogDue(const char* directory);
    bool handleHello(i4_ram_file_class* body);
    bool handleHelloAnswer(i4_ram_file_class* body);
    // The hello is done: the hello time-out ends and the door's lobby
    // lets the connection go.
    void helloCompleted();
    // The buddy address and the check code that end both hellos.
    void readHelloTail(i4_ram_file_class* body);
    // Queues a hello message: opcode, [size byte], own record, buddy
    // address and port, code.
    void sendHello(uint8_t opcode, bool withSizeByte);

    // Dispatch helpers (peer_dispatch.cpp).
    bool dispatch(uint8_t opcode, i4_ram_file_class* body);
    bool onFileStatus(PeerDownload* download, i4_ram_file_class* body);
    void onDirectoryRequest(const char* directory);
    bool onDirectoryList(i4_ram_file_class* body);
    bool onDirectoryFiles(i4_ram_file_class* body);
    void onCallbackRequest(i4_ram_file_class* body);
    void onSlotOpen();

    // A new message of the opcode, with room for the payload.
    static TCPPacket* newMessage(uint8_t opcode, int payloadLength);
    void queueEmpty(uint8_t opcode);
    void queueHash(uint8_t opcode, const UniqueID& hash);

    int32_t useCount_ = 0;
    bool persistent_;
    bool incoming_ = false;
    bool helloDone_ = false;
    int32_t helloWaitMs_ = 0;
    bool keep_ = false;
    int32_t idleMs_ = kIdleStartMs;
    UserMeta user_;
    int32_t prValue_ = 0;
    double uploadSpeed_ = 0.0;
    uint32_t uploadChunk_ = 0;
    PeerSource face_{this};
};
