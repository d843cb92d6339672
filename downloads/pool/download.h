// Download: one file being fetched. It ties together its state object
// (what it does on each event), its sources (peers and link sources), the
// range chooser that tells sources which bytes to ask for, its partial
// file on disk, the overlay's search for sources of its file hash and the
// completion of the finished file.
//
// The download pool owns every download and ticks it; the peer protocol
// reaches it through PeerDownload (SourcePeerDownload turns each
// connection into its SourcePeer face once, and the download handles the
// events on faces only); link sources through DownloadInterface.
//
// References: the pool holds one; findDownload hands out more; a loaded
// download's re-verification and a running completion each hold one. The
// last release destroys the download. Sources and the source search are
// task-thread objects: the pool deletes them (detachSources) before it
// lets go, so a release on another thread never touches them.
//
// Lock: a CountingSignal holding one token (not re-entrant). Events and
// commands take it for their whole run; statusCode only tries for 1 ms;
// the DownloadInterface operations, availability and sources take none.
// Lock order: the pool's list, the download, the partial file, its gaps.
//
// Threads: everything runs on the task thread except hashDone (the hashing
// thread: recorded and applied at the next tick, after the storage
// results), the completion's final state change (under the lock) and
// statusCode (any thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "core/meta/ref_counter.h"
#include "downloads/download_interface.h"
#include "downloads/source_peer_download.h"
#include "downloads/storage/dl_progress.h"
#include "downloads/storage/gap_list.h"
#include "downloads/storage/partial_file.h"
#include "downloads/storage/partial_file_owner.h"
#include "v4ada/containers/ll.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/threads/linux/counting_signal.h"

class DownloadSources;
class DownloadState;
class FileMeta;
class FileSourceInterface;
class SourcePeer;
class UserMeta;

// Texts of showSources (string-table keys with their defaults).
constexpr const char* kShowSourcesKey = "showUserFileStatus";
constexpr const char* kShowSourcesDefault = "Showing user, filename, and status for";
constexpr const char* kSourcesKey = "sources";
constexpr const char* kSourcesDefault = "sources";
constexpr const char* kNoSourcesKey = "noSourcesFor";
constexpr const char* kNoSourcesDefault = "No sources for:";
constexpr const char* kStatusKey = "status";
constexpr const char* kStatusDefault = "status:";
constexpr const char* kPriorityKey = "priority";
constexpr const char* kPriorityDefault = "priority:";

class TS_CAPABILITY("download") Download : public DownloadInterface, public SourcePeerDownload, public PartialFileOwner, public RefCounter {
public:
    // Priorities (DownloadPriority).
    static constexpr int kLow = 0;
    static constexpr int kNormal = 1;
    static constexpr int kHigh = 2;
    static constexpr int kHighest = 3;
    // How long statusCode waits for the lock.
    static constexpr int kStatusWaitMs = 1;

    // DLS_Queued, priority Normal, the overlay's source search when a
    // gateway is installed.
    Download();
    ~Download() override;
    Download(const Download&) = delete;
    Download& operator=(const Download&) = delete;

    // --- the lock ---------------------------------------------------------
    // Takes the lock: ms 0 waits without limit, otherwise false once ms
    // milliseconds passed without it.
    bool lock(int ms) TS_TRY_ACQUIRE(true);
    // Takes the lock, waiting without limit (lock(0)).
    void lock() TS_ACQUIRE() { lock_.wait(0); }
    void unlock() TS_RELEASE();
    // Deletes the current state and installs the given one (already
    // built). The caller holds the lock or is the current state.
    void setState(DownloadState* state);
    DownloadState* state() { return state_; }

    // --- creation (under the lock) ------------------------------------------
    // A new file: the name made safe, tag 21 removed, a partial file of the
    // layout the option partstyle picks created and saved. False, with
    // string 18 printed, when it cannot be created.
    bool createNew(FileMeta* record);
    // Resumes from a record read from "<record path>"; number is the
    // record's numeric prefix, 0 for the single-file layout. Priority and
    // paused flag come from tags 24 and 20. Loaded: DLS_Hashing (or
    // DLS_PausedHashing) while the data is verified again; else
    // DLS_ErrorLoading.
    void loadOld(FileMeta* record, uint32_t number);

    // --- DownloadInterface (no lock) ----------------------------------------
    // Under the lock.
    void addSourceLink(const char* link) override;
    OwnedString name() override;
    uint64_t size() override;
    uint32_t crumbCount() override;
    void changeWeight(const BoolArray* map, int32_t delta) override;
    void changeCrumbs(const BoolArray* oldMap, const BoolArray* newMap, int32_t delta) override;
    void returnCrumb(uint32_t crumb) override;
    void returnRange(uint64_t start, uint64_t end) override;
    bool pickRange(const BoolArray* map, uint64_t* start, uint64_t* end) override;
    bool pickPartRange(uint64_t* start, uint64_t* end) override;
    void writeData(const uint8_t* bytes, uint64_t start, uint64_t end) override;

    // --- PeerDownload: messages of the peer protocol --------------------------
    const UniqueID& fileHash() override { return hash_; }
    uint64_t fileSize() override { return size(); }
    bool hasPartialFile() override { return partial_ != nullptr; }
    bool copyPartMap(BoolArray& out) override;
    bool copyCrumbMap(BoolArray& out) override;
    bool setHashSet(i4_file* reader) override;
    bool setHashSetWithCrumbs(i4_file* reader) override;
    // Drops one reference (the last destroys the download).
    void release() override { RefCounter::release(); }

    // --- SourcePeerDownload: the peer events on connection faces ----------------
    // False for a malformed data message (nothing written).
    bool dataReceived(i4_file* reader, SourcePeer* connection) override;
    void noFile(SourcePeer* connection) override;
    void fileStatus(SourcePeer* connection, BoolArray* crumbs) override;
    void fileNameAnswer(const char* name, SourcePeer* connection) override;
    void partnerAccepted(SourcePeer* connection) override;
    void partnerRefused(SourcePeer* connection) override;
    void haveNotice(SourcePeer* connection, uint32_t crumb) override;

    // --- pool events and commands (each under the lock) ------------------------
    // Storage results first, then a pending end of re-verification, every
    // source (a source that answers false is deleted), the source search
    // and the state. True when data arrived or results were applied since
    // the last tick.
    bool tick(int elapsedMs);
    void pause();
    // After the lock is released, the pool reschedules.
    void resume();
    void cancel();
    // At program end: record and data files closed and saved.
    void shutdown();
    void diskFull();
    void diskOk();
    bool becomeHighest();
    bool openSlot(SourcePeer* connection);
    void connectFailed(uint32_t ip, uint16_t port);
    void peerClosed(SourcePeer* connection);
    void newPeer(SourcePeer* connection);
    void placeInQueue(SourcePeer* connection, uint32_t rank);
    bool uploadEnded(SourcePeer* connection);
    // A peer asks to become a partner: it becomes a source first.
    void partnerRequested(SourcePeer* connection);
    // The user becomes a source (or, when it is one, gets its retries
    // reset).
    void addSource(UserMeta* user, SourcePeer* connection);
    // Any thread: the re-verification of loaded data ended. Applied at the
    // next tick, after the results of the checks.
    void hashDone(bool verified);

    // The caller holds the lock: nothing is missing, so the file is
    // checked and moved on a completion worker (DLS_Done 10 meanwhile).
    // Nothing unless the partial file is active.
    void complete();
    // The completion sent the download back to fetching: the file's
    // uploads resume at the next tick (any thread).
    void completionReturned();
    // Deletes every source and the source search. Task thread, before the
    // pool drops the download.
    void detachSources();

    // --- reading ------------------------------------------------------------------
    // The state's code, or 0 when the lock is not free within 1 ms.
    int statusCode();
    // Share of crumbs that are complete or held by a known source.
    double availability();
    // The sources (FileSourceInterface*), task thread.
    LL* sources() { return &sources_; }
    // The console listing of the sources (paged).
    void showSources();
    // Refreshes the record's "Last Seen Complete" tag. The caller holds
    // the lock.
    void lastSeenComplete();
    // A peer source for a location link, or null (under the lock).
    FileSourceInterface* parseSourceLink(const char* text);

    double speed() const { return speed_.load(std::memory_order_relaxed); }
    void setSpeed(double speed) { speed_.store(speed, std::memory_order_relaxed); }
    int priority() const override { return priority_.load(std::memory_order_relaxed); }
    void setPriority(int priority) { priority_.store(priority, std::memory_order_relaxed); }
    bool isPaused() const override;
    DLProgress* progress() override { return &progress_; }
    PartialFile* partialFile() override { return partial_; }
    // Saves the record (built now, written by the storage worker, or here
    // when wait is set). Nothing for a partial file that was not created
    // or loaded: a record that did not load is never written over. The
    // caller holds the lock.
    bool saveRecord(bool wait = false);
    DownloadSources* sourceSearch() { return search_; }
    // Bytes written since the last tick (data messages and link sources).
    bool takeActivity() { return activity_.exchange(false, std::memory_order_relaxed); }

    // The data of a message that lies inside a request of a source on that
    // connection is written; the rest is dropped. kWriteFailed asks for a
    // disk-space check. Under the lock (downloading states).
    WriteResult writeRequested(i4_file* reader, SourcePeer* connection, uint64_t start, uint64_t end);

private:
    // Holds the lock for a scope.
    class TS_SCOPED_CAPABILITY LockGuard {
    public:
        explicit LockGuard(Download* download) TS_ACQUIRE(download) : download_(download) { download_->lock(); }
        ~LockGuard() TS_RELEASE() { download_->unlock(); }
        LockGuard(const LockGuard&) = delete;
        LockGuard& operator=(const LockGuard&) = delete;

    private:
        Download* download_;
    };

    PartialFile* makePartialFile(bool partDirectories);
    void addNewSource(FileSourceInterface* source);
    void addSourceLocked(UserMeta* user, SourcePeer* connection) TS_REQUIRES(this);
    void detachSourcesLocked() TS_REQUIRES(this);
    // Posts one disk-space check until the next check answers.
    void askDiskCheck();
    // hashDone's verdict, applied on the task thread.
    void applyHashDone();

    CountingSignal lock_;
    DownloadState* state_;
    bool seenComplete_ = false;
    DownloadSources* search_ = nullptr;
    LL sources_;
    DLProgress progress_;
    UniqueID hash_;
    PartialFile* partial_ = nullptr;
    // The partial file was created or loaded.
    bool ready_ = false;
    std::atomic<double> speed_{0.0};
    std::atomic<int> priority_{kNormal};
    std::atomic<bool> activity_{false};
    // 0 none, 1 verified, 2 unreadable.
    std::atomic<int> hashVerdict_{0};
    std::atomic<bool> resumeUploads_{false};
    // A disk check was asked for after a failed write and not yet made.
    bool diskCheckAsked_ = false;
    // Scratch of writeRequested (no allocation per message).
    std::vector<Gap> requests_;
    std::vector<Gap> pieces_;
};
