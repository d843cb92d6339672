// UploadPool: serves other peers' requests for this client's files. It owns
// the upload slots, the slot tuner and the upload queue: a peer that asks
// for a file (ICLT_UPLOAD_REQUEST) waits in the file's queue and hears its
// rank; free slots invite the next peers; partners of this client's
// downloads skip the queues. It routes each part request to the slot it
// concerns, follows new, failed and closed connections, and keeps the
// queue in uploadq.dat (every 10 minutes and at shutdown).
//
// It is the uploads side of the peer protocol (PeerUploads) and of the
// downloads (UploadSide), a peer-event handler and a task of the task
// thread. Start-up makes the process-wide pool (two slots); the transfer
// hub installs it, loads uploadq.dat and, at shutdown, saves it and lets
// the slots go. The pool outlives the socket pool, whose connections
// leave it as they are deleted.
//
// Threads: the task thread runs everything; the user interfaces read the
// slots through UploadSlotInterface and take references on them with
// slotsSnapshot.
#pragma once

#include <cstdint>
#include <vector>

#include "core/net/peer_event_handler.h"
#include "core/task/time_slice_task.h"
#include "downloads/storage/download_services.h"
#include "transfer/peer/peer_sides.h"
#include "transfer/uploads/upload_queue.h"
#include "transfer/uploads/upload_slot_tuner.h"
#include "v4ada/threads/linux/sys_mutex.h"

class Peer;
class UploadSlot;
class UploadSlotInterface;

// A rank waiting to be told a peer at the next tick (no use of the
// connection is held: the notice goes when the connection does).
struct RankNotice {
    Peer* connection;
    uint32_t rank;
};

class UploadPool : public TimeSliceTask,
                   public PeerEventHandler,
                   public PeerUploads,
                   public UploadSide,
                   public QueueHost {
public:
    static constexpr int kStartSlots = 2;
    // uploadq.dat is written when more than this has passed since the last
    // write.
    static constexpr int kSaveEveryMs = 600000;

    static UploadPool* instance();
    // Keeps an existing pool.
    static void createInstance();
    static void destroyInstance();

    // Two empty slots.
    UploadPool();
    // Lets every slot still held go (without saving).
    ~UploadPool() override;
    UploadPool(const UploadPool&) = delete;
    UploadPool& operator=(const UploadPool&) = delete;

    // Slots, rank notices, the upload rate, the tuner, the periodic save.
    // Never reports work done.
    bool tick(int elapsedMs) override;

    // PeerUploads: ICLT_PART_REQUEST, ICLT_UPLOAD_REQUEST, and
    // ICLT_SLOT_RELEASE / ICLT_FILE_DONE (the peer gives its slot back).
    void partRequest(Peer* peer, const UniqueID& hash, const uint32_t starts[3], const uint32_t ends[3]) override;
    void queueRequest(Peer* peer, const UniqueID& hash) override;
    void peerClosed(Peer* peer) override;

    // PeerEventHandler.
    void peerClosed(TCPConnection* connection) override;
    void connectFailed(uint32_t ip, uint16_t port) override;
    void newPeer(TCPConnection* connection) override;

    // UploadSide.
    void sendHaveNotice(const UniqueID& hash, uint32_t crumb) override;
    void pauseFile(const UniqueID& hash, bool pause) override;
    void removePriorityUser(const UserMeta& user) override;

    // QueueHost.
    bool slotHasUser(const UserMeta& user) override;
    void addRankNotice(Peer* connection, uint32_t rank) override;
    void slotEntries(std::vector<UploadqEntry>& out) override;

    // Slot order: a before b when a's score is lower, or equal with a
    // larger timer.
    static bool compare(const UploadSlot* a, const UploadSlot* b);
    // The first slot serving or inviting the user, or null.
    UploadSlot* slotOfUser(const UserMeta& user);
    // A slot for a partner: its own, else the first not given to a partner
    // (a new one when every slot is), where the partner is invited next.
    UploadSlot* partnerSlot(Peer* connection);
    // Drops the first notice of the connection.
    void dropRankNotice(Peer* connection);

    // uploadq.dat at the transfer options' path.
    void load();
    // Saves uploadq.dat now and lets every slot go.
    void shutdown();

    UploadQueue& queue() { return queue_; }
    UploadSlotTuner& tuner() { return tuner_; }

    // The slot list (task thread).
    int slotCount() const { return static_cast<int>(slots_.size()); }
    UploadSlot* slotAt(int index) const { return slots_[static_cast<size_t>(index)]; }
    // A new empty slot joins the list (which is sorted again).
    UploadSlot* addSlot();
    // The slot leaves the list and the pool lets go of it.
    void removeSlot(UploadSlot* slot);
    void sortSlots();
    void shuffleSlots();
    int rankNoticeCount() const { return static_cast<int>(notices_.size()); }

    // Any thread: every slot, each with a reference the caller releases.
    std::vector<UploadSlotInterface*> slotsSnapshot();

private:
    // Every slot leaves the list and is let go.
    void releaseSlots();
    // The connection went away or gave its slot back.
    void closed(Peer* connection, bool gone);
    // A copy of the list to walk while slots reorder it.
    std::vector<UploadSlot*> slotsCopy() const { return slots_; }
    static const char* queuePath();

    int saveMs_ = 0;
    std::vector<RankNotice> notices_;
    UploadSlotTuner tuner_{this};
    mutable SysMutex slotsLock_;  // slots_ against slotsSnapshot
    std::vector<UploadSlot*> slots_;
    UploadQueue queue_{this};
};

inline UploadPool* uploadPool() { return UploadPool::instance(); }
