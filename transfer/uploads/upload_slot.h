// UploadSlot: one place in which this client uploads to one peer at a time.
// An empty slot takes the next user from the upload queue and invites it:
// it connects to the user (or waits for the user to connect) and sends
// ICLT_SLOT_OPEN; the invited peer's first part request starts an Upload.
// A busy slot feeds its upload; when the queue holds a user of a higher
// priority than the upload's score, the slot invites that user, whose
// first part request replaces the upload (the old peer waits again).
//
// States: empty (score -30000), inviting (a user invited, the timer runs),
// busy (an upload), or busy and inviting. An invitation times out after
// 90 s (15 s for a peer that connects by itself; a full peer pool retries
// once after 60 s).
//
// Threads: the task thread runs the slot. The user interfaces read it
// through UploadSlotInterface; lock_ guards the upload and the invited
// user against them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "transfer/uploads/upload.h"
#include "transfer/uploads/upload_slot_interface.h"
#include "transfer/uploads/uploadq_file.h"
#include "v4ada/threads/linux/sys_mutex.h"

class Peer;
class UploadPool;

class UploadSlot : public UploadSlotInterface, public UploadOwner {
public:
    static constexpr int kEmptyScore = -30000;
    static constexpr int kPartnerScore = 30000;
    // The invitation's timer: it ends above kInviteTimeoutMs; a peer that
    // connects by itself starts at kSelfConnectedMs (15 s left), a retry
    // after a full peer pool at kRetryMs (60 s to the retry).
    static constexpr int kInviteTimeoutMs = 90000;
    static constexpr int kSelfConnectedMs = 75000;
    static constexpr int kRetryMs = 30000;

    // Empty, in the pool (not owned), which holds the first reference.
    explicit UploadSlot(UploadPool* pool);
    // Retires the slot when the pool has not.
    ~UploadSlot() override;

    // The timers, the upload's speed and score, and the next user.
    void tick(int elapsedMs);
    // Asks the peer pool for the invited user's connection.
    void connect();
    // A connection finished its hello: true when it is the invited user's.
    bool newPeer(Peer* connection);
    // The connection went away (gone: it is being destroyed), or its peer
    // gave its slot back: the upload or invitation of it ends. True when
    // the slot had one.
    bool peerClosed(Peer* connection, bool gone);
    // An attempt to reach ip:port failed: true when it was the invitation's.
    bool connectFailed(uint32_t ip, uint16_t port);
    // ICLT_PART_REQUEST: true when it was for this slot (from the invited
    // user or the current upload's peer).
    bool partRequest(const UniqueID& hash, const uint32_t starts[3], const uint32_t ends[3], Peer* connection);
    // The new upload becomes the current one (a running one ends; with
    // sendEnd its peer hears ICLT_SLOT_CLOSED; it waits again for its
    // file). False for null.
    bool startUpload(Upload* upload, const uint32_t starts[3], const uint32_t ends[3], bool sendEnd);
    // An upload of the shared file (or of the download of that hash) to
    // the peer; null when there is none or it cannot be opened.
    Upload* makeUpload(const UniqueID& hash, Peer* connection);
    // UploadOwner: only the current upload; the peer is not told.
    void endUpload(Upload* upload) override;
    void pause();
    void resume();
    void dropInvite();
    bool hasUser(const UserMeta& user);
    // The upload's peer, else the invited user's nickname, else null.
    OwnedString peerName();
    // The pool let go of the slot: its users wait again at the front of
    // their queues (the upload's peer hears ICLT_SLOT_CLOSED and rank 1),
    // and the slot never touches the pool again. Task thread.
    void retire();

    // UploadSlotInterface.
    double speed() override;
    bool user(UserMeta& out) override;
    const char* fileName(OwnedString& out) override;
    bool fileHash(UniqueID& out) override;
    int score() override { return score_.load(std::memory_order_relaxed); }

    // Task thread.
    void setScore(int score) { score_.store(score, std::memory_order_relaxed); }
    Upload* upload() const { return upload_; }
    const UserMeta* invited() const { return invited_.get(); }
    int timer() const { return timer_; }
    bool retrying() const { return retry_; }
    // The slot's entry in uploadq.dat.
    UploadqEntry entry();

private:
    // The invitation holds a use of the connection while it waits.
    void holdInvitedPeer(Peer* connection, const char* tag);
    void notifyChanged();
    void tellPartners(Peer* connection);

    UploadPool* pool_;
    SysMutex lock_;  // upload_ and invited_ against the user interfaces
    bool retry_ = false;
    int timer_ = 0;
    std::atomic<int> score_{kEmptyScore};
    Upload* upload_ = nullptr;
    std::unique_ptr<UserMeta> invited_;
    Peer* invitedPeer_ = nullptr;
};
