// Upload: one file's data going to one peer over that peer's connection.
// The peer asks for up to three byte ranges at a time (ICLT_PART_REQUEST);
// the upload answers with ICLT_DATA packets (upload_packet.h) for the first
// range, then the next, keeping two packets in flight (each packet that
// has gone out queues the next) and sizing them from the measured speed.
//
// The file stays open for the upload's life and is read ahead: one read
// fills a buffer of up to 1 MiB, never past the end of the range being
// served, and packets are cut from it.
//
// References: the owner (the upload slot) holds one while the upload is
// its current one, each packet in flight one more. The last release logs
// "End Upload: %s", counts the bytes sent against the file (UploadHub) and
// drops the upload's use of the connection.
//
// Threads: the task thread runs everything. The user interfaces read the
// peer's user record (a copy taken when the upload starts, under lock_),
// the file name and hash (fixed before the upload is published) and the
// average speed (atomic).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/meta/ref_counter.h"
#include "core/meta/user_meta.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"
#include "v4ada/threads/linux/thread_annotations.h"

class Peer;
class TCPConnection;
class Upload;
class i4_file;

// Whoever runs an upload (its slot): told when the upload has ended (its
// ranges are sent, its connection went away or a read failed).
class UploadOwner {
public:
    virtual void endUpload(Upload* upload) = 0;

protected:
    ~UploadOwner() = default;
};

class Upload : public RefCounter {
public:
    // Scores (the rank of an upload when a slot is to be given away).
    static constexpr int kScoreUnset = -30001;
    static constexpr int kPartnerScore = 30000;
    // A peer whose hello check code did not verify scores this unless a
    // draw of random_below(kUnverifiedDraw) gives 0.
    static constexpr int kUnverifiedScore = -1;
    static constexpr int kUnverifiedDraw = 15;
    // Data bytes per packet: kFirstChunk until measured, then
    // (speed / 20 + 1) x 512, at most kMaxChunk, so that a frame stays
    // well within the frame limit every peer of this program enforces.
    static constexpr uint32_t kFirstChunk = 512;
    static constexpr uint32_t kMaxChunk = 1u << 20;
    // Bytes one read of the file fetches at most.
    static constexpr uint32_t kReadAhead = 1u << 20;
    // Speed: a sample every window of more than kSampleWindowMs, the
    // average over a ring of kSampleCount samples; until the ring is full,
    // over the samples taken (a window never measured is no zero). An
    // upload to a connection that had one before starts from that one's
    // speed and packet size. The first sample of an upload that starts
    // unmeasured is taken after kFirstSampleWindowMs, so a fast peer
    // leaves the smallest packets within a fraction of a second and a
    // slow one keeps them.
    static constexpr int kSampleWindowMs = 2000;
    static constexpr int kFirstSampleWindowMs = 250;
    static constexpr int kSampleCount = 8;
    // An upload whose ranges are all sent waits this long for the peer's
    // next part request before it ends, so that a peer asking as soon as
    // a range completes keeps one upload going. What was sent last may
    // still sit in the sockets' buffers, unread by the peer: a peer that
    // reads at 4 MB/s asked again only after about 60 ms.
    static constexpr int kDrainWaitMs = 500;
    // Bytes sent wait in the sockets' buffers on their way, and the peer
    // asks again only once it has read the first range: at a known speed
    // the wait also covers the time the last request's bytes take at that
    // speed, up to this long.
    static constexpr int kDrainWaitMaxMs = 5000;
    static constexpr int kRangeCount = 3;
    static constexpr uint64_t kPartBytes = 9728000;

    // Takes the open file over, a use of the connection ("Upload") and a
    // copy of its user record; logs "Start Upload: %s". The caller then
    // sets the hash.
    Upload(i4_file* file, Peer* connection, const char* name, UploadOwner* owner);
    ~Upload() override;
    Upload(const Upload&) = delete;
    Upload& operator=(const Upload&) = delete;

    void setHash(const UniqueID& hash) { hash_ = hash; }
    const UniqueID& hash() const { return hash_; }
    const char* name() const { return name_.c_str() ? name_.c_str() : ""; }

    // A part request's three ranges [starts[i], ends[i]); a range with
    // start >= end is empty. The peer lists every range it has not read in
    // full yet, so a range this upload has sent whole is dropped from the
    // request (once) for as long as the peer keeps listing it: a slow
    // reader would otherwise get it twice.
    void setRanges(const uint32_t starts[kRangeCount], const uint32_t ends[kRangeCount]);
    // Queues the next packet; false when the upload has ended (the owner
    // was told and may have let go of it: the caller must not touch it).
    // With every range sent it queues nothing and waits (kDrainWaitMs).
    bool sendNext();
    // After new ranges: an upload that waited with every range sent sends
    // again, two packets. May end the upload (the owner is told).
    void resumeDrained();
    // A packet of this upload went out whole: the next one is queued.
    void packetSent();
    bool drained() const { return drainedMs_ >= 0; }
    // Pausing stops the packets; resuming (while canUpload) sends two.
    void setPaused(bool pause);
    // Speed bookkeeping with the milliseconds elapsed; ends an upload that
    // waited longer than its drain limit with every range sent (kDrainWaitMs,
    // or at a known speed the time its last request's bytes take, up to
    // kDrainWaitMaxMs; the owner is told and may let go of it).
    void tick(int elapsedMs);
    // Computed once when first asked: a partner 30000, else the shared
    // file's upload priority (0 when not shared); an unverified hello -1
    // in 14 of 15 draws. Later part changes lower it by 1 each.
    int score();
    // The connection is going away: the upload stops sending. True when
    // it was this upload's.
    bool abort(TCPConnection* connection);
    // The slot let go of the upload: it is paused and never tells the
    // owner again.
    void detachOwner() { owner_ = nullptr; }
    // The connection; null after abort. Task thread.
    Peer* connection() const { return connection_; }

    // Readers of the user interfaces (a null text, false once the
    // connection went).
    OwnedString peerName();
    bool peerUser(UserMeta& out);
    bool isUser(const UserMeta& user);
    double averageSpeed() const { return averageSpeed_.load(std::memory_order_relaxed); }

    // Bytes of this upload's packets written to the connection.
    void countSent(int bytes);
    uint64_t sent() const { return sent_; }
    uint32_t chunkSize() const { return chunkSize_; }
    uint64_t position() const { return position_; }
    uint64_t rangeStart(int i) const { return starts_[i]; }
    uint64_t rangeEnd(int i) const { return ends_[i]; }
    bool paused() const { return paused_; }

protected:
    // For a PartUpload: no file yet, no log line, the use tagged useTag.
    Upload(Peer* connection, const char* name, UploadOwner* owner, const char* useTag);

    // The length bytes at position, or null when they cannot be had (the
    // reason is reported). Valid until the next call.
    virtual const uint8_t* fillBuffer(uint32_t length);
    virtual bool canUpload() { return true; }
    // From the open file through the read-ahead buffer.
    const uint8_t* fillFromFile(uint32_t length);
    // Bytes already read ahead, or null.
    const uint8_t* buffered(uint32_t length) const;
    // The read-ahead buffer for a read of length bytes at position; the
    // bytes it held are dropped.
    uint8_t* aheadBuffer(uint32_t length);
    // length bytes are now in the buffer from position on.
    void aheadFilled(uint32_t length);
    // The bytes one read fetches for a packet of length bytes.
    uint32_t readSpan(uint32_t length) const;
    // Takes an open file over (a finished download).
    void setFile(i4_file* file);
    bool isPartner();

    const UniqueID& fileHash() const { return hash_; }

private:
    void end();
    // Range 0 is done: the others move up.
    void nextRange();
    // Of the ranges sent whole, keeps those that may still be on their way:
    // the ones sent after the last one the first taken ranges of the
    // request no longer list.
    void forgetServedUnlisted(int taken);

    UploadOwner* owner_;
    std::atomic<int> score_{kScoreUnset};
    SysMutex lock_;  // connection_ against the readers; peer_
    OwnedString name_;
    i4_file* file_ = nullptr;
    uint64_t starts_[kRangeCount] = {};
    uint64_t ends_[kRangeCount] = {};
    // Ranges sent whole that may still be on their way (the peer lists a
    // range until it has read all of it, and has listed each of these in
    // every request since, as it has every range sent after it), in the
    // order sent.
    uint64_t servedStarts_[kRangeCount] = {};
    uint64_t servedEnds_[kRangeCount] = {};
    int servedCount_ = 0;
    uint64_t position_ = 0;
    int sampleMs_ = 0;
    double samples_[kSampleCount] = {};
    uint64_t sampleBytes_ = 0;
    int sampleIndex_ = 0;
    int sampleCount_ = 0;  // samples in the ring, up to kSampleCount
    int drainedMs_ = -1;   // time waited with every range sent; -1: sending
    int drainLimitMs_ = kDrainWaitMs;  // how long that wait may last
    int64_t liveMs_ = 0;               // time ticked while not paused
    uint64_t requestBytes_ = 0;        // bytes the last request asked for
    int inFlight_ = 0;     // packets queued and not yet sent whole
    uint32_t chunkSize_ = kFirstChunk;
    bool paused_ = false;
    bool aborted_ = false;
    uint64_t sent_ = 0;
    Peer* connection_;
    // The connection's user when the upload started.
    UserMeta peer_ TS_GUARDED_BY(lock_);
    bool helloVerified_;
    std::atomic<double> averageSpeed_{0.0};
    UniqueID hash_;
    // Read-ahead: aheadLength_ bytes of the file from aheadStart_ on.
    std::unique_ptr<uint8_t[]> ahead_;
    uint32_t aheadCapacity_ = 0;
    uint64_t aheadStart_ = 0;
    uint32_t aheadLength_ = 0;
};
