// UploadQueue: the peers waiting for an upload slot. One FileQueue per
// requested file, each with the file's upload priority; a free slot takes
// the next peer of the best serviceable queue, and queues of equal priority
// take turns (a served queue moves to the end). Partners of this client's
// downloads wait in a list of their own that is served before every file
// queue. A user waits in at most one place. The queue is kept in
// uploadq.dat (uploadq_file.h) across restarts.
//
// Task thread; a save's write may go to the storage worker.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <vector>

#include "core/meta/user_meta.h"
#include "transfer/uploads/file_queue.h"
#include "transfer/uploads/uploadq_file.h"
#include "v4ada/containers/unique_id.h"

class Peer;

// What the queue asks of the upload pool.
class QueueHost {
public:
    // Whether a slot serves or invites the user.
    virtual bool slotHasUser(const UserMeta& user) = 0;
    // The rank is told the peer at the pool's next tick.
    virtual void addRankNotice(Peer* connection, uint32_t rank) = 0;
    // Each slot in order: the hash of its upload (zero without one) and
    // the user it serves or invites (an empty record without one).
    virtual void slotEntries(std::vector<UploadqEntry>& out) = 0;

protected:
    ~QueueHost() = default;
};

// Texts shown by key, with their built-in English.
constexpr const char* kQueueNotLoadedKey = "UQnotLoaded";
constexpr const char* kQueueNotLoadedText = "Upload Queue not loaded";
constexpr const char* kQueueOldKey = "UQold";
constexpr const char* kQueueOldText = "Upload Queue old. Starting Fresh";

class UploadQueue {
public:
    // Slot scores: an empty slot, and the highest score that still takes
    // a partner from the priority users.
    static constexpr int kEmptySlotScore = -30000;
    static constexpr int kLowestPriority = -29999;
    static constexpr int kPartnerBelow = 30000;
    // A saved queue older than this many seconds is not loaded.
    static constexpr int64_t kMaxAgeSeconds = 43199;
    // Entries a save keeps: at least kMinSaved, else 12 per user served per
    // hour since the core started.
    static constexpr int kMinSaved = 500;
    static constexpr uint32_t kSavedPerServed = 12;
    // The tag "w" a served user carries: the hash of the file it waited for.
    static constexpr const char* kWantedTag = "w";

    explicit UploadQueue(QueueHost* host);
    UploadQueue(const UploadQueue&) = delete;
    UploadQueue& operator=(const UploadQueue&) = delete;

    // ICLT_UPLOAD_REQUEST: the peer's user waits for the file and hears its
    // rank (place x number of file queues; 0 in a slot).
    void queueRequest(Peer* connection, const UniqueID& hash);
    // The user's place: unchanged when it waits already (anywhere), else
    // the end of the file's queue. 1-based; 0 in a slot or among the
    // priority users.
    uint32_t enqueue(const UserMeta& user, const UniqueID& hash);
    // Unless the user waits already: the front of the file's queue.
    void requeueFront(const UserMeta& user, const UniqueID& hash);
    // The user a slot of that score invites next, or null (Algorithms:
    // priority users for scores below 30000, then the best serviceable
    // queue when its priority is above the score).
    std::unique_ptr<UserMeta> next(int slotScore);
    // Whether the user waits (in a file queue, a slot or the priority
    // users), with its place as enqueue gives it.
    bool findUser(const UserMeta& user, uint32_t* position);
    // The queue of the hash, made when missing; findFileQueue only looks.
    FileQueue* fileQueue(const UniqueID& hash);
    FileQueue* findFileQueue(const UniqueID& hash);
    // The queue's priority when it exists; the best priority is found
    // again at the next scan.
    void setFilePriority(const UniqueID& hash, int priority);
    // A partner given a slot waits here (once per user).
    void addPriorityUser(Peer* connection);
    void removePriorityUser(const UserMeta& user);

    // uploadq.dat: the bytes of the queue as it is now (at most the cap's
    // entries), and the save of them; now writes on the caller.
    std::vector<uint8_t> build();
    void save(const char* path, bool now);
    // Queues the entries of the file: the former slots' users first. No
    // file is no fault. One that cannot be read, or that is damaged, prints
    // "Upload Queue not loaded" and is put aside (a damaged one keeps the
    // entries before the damage); one older than 12 hours or from the
    // future prints "Upload Queue old. Starting Fresh" and queues nothing.
    void load(const char* path);
    // What reading the bytes of a saved queue did: every entry queued, an
    // old queue left out, or the entries before the damage queued.
    enum class Loaded { kWhole, kOld, kDamaged };
    Loaded loadBytes(const uint8_t* bytes, size_t size);
    // The cap on saved entries from the users served and the hours since
    // the core started.
    static int savedCap(int served, double hours);

    int fileQueueCount() const { return static_cast<int>(fileQueues_.size()); }
    int queuedCount() const { return queuedCount_; }
    int servedCount() const { return servedCount_; }
    int bestPriority() const { return bestPriority_; }
    int priorityUserCount() const { return static_cast<int>(priorityUsers_.size()); }
    // The file queues in serving order (listings).
    const std::list<std::unique_ptr<FileQueue>>& fileQueues() const { return fileQueues_; }

private:
    // The first serviceable queue of the highest priority.
    std::list<std::unique_ptr<FileQueue>>::iterator bestQueue();

    QueueHost* host_;
    std::deque<std::unique_ptr<UserMeta>> priorityUsers_;
    int bestPriority_ = kEmptySlotScore;
    std::list<std::unique_ptr<FileQueue>> fileQueues_;
    int queuedCount_ = 0;
    int servedCount_ = 0;
    UploadqSaver saver_;
};
