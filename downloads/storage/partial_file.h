// PartialFile: the target file of one download while it is fetched. It
// keeps the bytes on disk in the temporary directory, knows which ranges
// are missing (its gap list), verifies received crumbs and parts against
// the file's hash set, shares verified data, saves the download's record
// (<n>.part.met, see part_met.h) so that a restart resumes it, and finally
// checks the whole file and moves it to the incoming directory.
//
// The checks are kept by CheckResults, the record saves by RecordSaver
// and the final check by FinalCheck, each beside this class and working
// on its data; this class holds the storage and the state.
//
// This class is the single-file layout: one data file <n>.part beside its
// record (version 224). CompPartialFile (part directories, version 225)
// overrides the layout-bound operations through the protected members.
//
// Threads. Gaps, verified bits, the range chooser, have-notices and
// sharing change on the task thread only. Digests are made elsewhere (the
// storage worker for received data, the hashing thread in verify, the
// completion thread in complete) and queued as results that the owner
// applies from its tick with applyResults. Received bytes are written at
// once (one pwrite per piece, no sync); a record save is built on the task
// thread and written, synced and renamed by the storage worker. Uploads
// read from any thread. Lock order: the owner's lock, then this mutex,
// then the gap list's.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "core/meta/file_meta.h"
#include "core/meta/ref_counter.h"
#include "downloads/storage/check_results.h"
#include "downloads/storage/dl_progress.h"
#include "downloads/storage/file_part.h"
#include "downloads/storage/final_check.h"
#include "downloads/storage/gap_list.h"
#include "downloads/storage/part_check.h"
#include "downloads/storage/record_saver.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class PartialFileOwner;
class StorageWorker;
class i4_file;

// What a write did.
enum class WriteResult {
    kMissing,      // bytes are still missing or a check is pending
    kComplete,     // nothing missing (see nothingMissing)
    kBadInput,     // range outside the file or the reader short: nothing written
    kWriteFailed,  // a piece could not be written; its bytes stay missing
};

// What read did.
enum class ReadResult {
    kDone,         // the bytes are in the buffer
    kFinishing,    // state 1: the download is being completed
    kCompleted,    // state 2: the finished file is in place
    kFailed,       // state 3: cancelled or corrupt
    kUnavailable,  // the range is empty, not all present, or unreadable
};

// What the final check did.
enum class CompleteResult {
    kComplete,        // the file is in place and shared (state 2)
    kCorrupted,       // the data is wrong and was set aside or removed (state 3)
    kRefetch,         // bad or missing parts are gaps again (state 0)
    kAssemblyFailed,  // the data could not be joined, read, cut back or
                      // moved: it is kept as it is (state 0), the reason
                      // printed
};

class PartialFile : public RefCounter, public GapView {
public:
    static constexpr int kActive = 0;
    static constexpr int kFinishing = 1;
    static constexpr int kCompleted = 2;
    static constexpr int kFailed = 3;

    // The owner is not owned; it outlives every call made from its tick.
    explicit PartialFile(PartialFileOwner* owner);
    ~PartialFile() override;

    // A new download of the record's file: a fresh data file <n>.part in
    // the temporary directory, one gap over the whole file. False (with a
    // message) when the file cannot be made or its size is 0 or 4 GiB and
    // more.
    virtual bool create(FileMeta* record);
    // Resumes from a record read from "<path>" (its path set by the
    // loader); number is the record's numeric prefix (part directories).
    virtual bool load(FileMeta* record, uint32_t number);
    // State 3; the data, the record and its backup are removed and the
    // file is no longer shared.
    virtual void cancel();
    // Final check, on the completion thread after the owner set state 1.
    virtual CompleteResult complete();
    virtual OwnedString metPath() const;
    // Directory of the data, with a trailing '/'.
    virtual OwnedString partDirectory() const;

    // Copies [start, end) for an upload; in a state other than 0 nothing
    // is read and the answer names the state.
    ReadResult read(void* buffer, uint64_t start, uint64_t end);
    // Takes exactly end - start bytes from the reader and writes those of
    // them still missing (a later source never overwrites present data),
    // through every part the range touches; pieces that complete crumbs or
    // parts are queued for checking. In a state other than 0 nothing
    // happens (kMissing).
    WriteResult write(i4_file* reader, uint64_t start, uint64_t end);
    // Applies the results of checks made on other threads: verified bits,
    // have-notices, the range chooser, corruption. Task thread. True when
    // there were results.
    bool applyResults();
    // True once after applyResults verified a whole part (task thread).
    bool takePartVerified();
    // No gap left, no check pending, and no final check waiting for the
    // part hashes.
    bool nothingMissing() const;

    // Syncs and closes the data files (a later write reopens part files).
    void close();
    // Saves the record: built now, written by the storage worker, or on
    // the caller when wait is set (shutdown) or no worker threads run.
    // Nothing in a state other than 0. False when nothing was saved or
    // queued, or a synchronous save failed.
    bool save(bool wait = false);

    // Hash-set answers (with crumb hashes, or part hashes only). Read into
    // a scratch record: known crumb hashes are never replaced, and crumb
    // hashes dropped this run are not taken again. True when the part
    // hashes are (now) known; the checks are then queued.
    bool setHashSetWithCrumbs(i4_file* reader);
    bool setHashSet(i4_file* reader);
    // Checks every unverified piece now, on the calling thread (the hashing
    // thread after a load); the results wait for applyResults. False only
    // when the existing data cannot be read at all. Files stay as they are
    // (but see beforeLoadChecks).
    bool verify();

    // Some crumb set in the source's map is not verified here.
    bool needsFrom(const BoolArray* map) const;
    // The first verified crumb or part shares the file; reshare hands the
    // share list a fresh copy after it was rebuilt.
    void share();
    void reshare();
    // Stops sharing the partial file (cancel, failed check, data that
    // cannot be read again).
    void unshare();
    // The upload priority (special tag 19) of the record, and of the
    // shared record when shared; saved with the next record save.
    void setUploadPriority(int32_t priority);

    // GapView, for the range chooser.
    void gapsIn(uint64_t a, uint64_t b, std::vector<Gap>& out) const override;
    uint64_t fileSize() const override { return size_; }
    // The byte ranges still missing. Changed here by writes and checks;
    // a caller that changes it (a test, a fuzz driver) keeps the range
    // chooser in step itself.
    GapList& gapList() { return gaps_; }
    const GapList& gapList() const { return gaps_; }
    // The gaps by offset.
    std::vector<Gap> gaps() const { return gaps_.gaps(); }

    int state() const { return state_.load(std::memory_order_acquire); }
    void setState(int state) { state_.store(state, std::memory_order_release); }
    uint64_t size() const { return size_; }
    uint32_t partCount() const { return partCount_; }
    uint32_t crumbCount() const { return crumbCount_; }
    uint8_t recordVersion() const { return version_; }
    uint32_t number() const { return number_; }
    int64_t bytesDone() const;
    bool hashSetKnown() const;
    // All data is there but a final check failed without the part hashes:
    // the download waits for them (see waitForHashSet).
    bool awaitingHashSet() const;
    // Nothing more to ask for: the crumb hashes are complete, or they were
    // dropped for this run and no answer would be taken.
    bool crumbHashesComplete() const;
    bool crumbHashesDropped() const;
    UniqueID fileHash() const;
    OwnedString name() const;
    // The data file's path (single-file layout).
    OwnedString path() const;
    void crumbMap(BoolArray& out) const;
    void partMap(BoolArray& out) const;
    // Runs fn on the target's record under the mutex (tags such as "Last
    // Seen Complete").
    void withMeta(const std::function<void(FileMeta&)>& fn);
    int pendingChecks() const;

protected:
    // Takes over the record; sizes everything; makes the parts; builds the
    // range chooser; trusts unchanged parts (checkLoadedParts).
    virtual void setMeta(FileMeta* record);
    virtual void createParts();
    // Parts whose file did not change since the last save are taken as
    // verified where they have no gap (no hashing).
    void checkLoadedParts();
    // The layout's repairs of its files before verify checks them, on the
    // same thread (the part-directory layout cuts back parts a failed
    // final check left joined).
    virtual void beforeLoadChecks() {}
    // The final check's steps, for the layout's complete.
    FinalCheck& finalCheck() { return final_; }
    // Waits for a save being written and drops one not yet written.
    void stopSaves();
    // Removes "<metPath>" with its backup and temporary.
    void removeRecord();
    // Removes "<path>" with its backup and temporary.
    static void removeRecordAt(const OwnedString& path);
    // A load that failed before the layout's paths were known: cancel
    // then touches the record it was read from and nothing else.
    bool loadFailedEarly() const { return directory_.length() == 0; }
    // A part found bad or missing by the final check: it is no longer
    // verified, and a result queued for the owner's tick puts its bytes
    // back into the gaps and the range chooser.
    void reopenPart(uint32_t part, CheckOutcome why, uint64_t readableEnd = 0);
    bool storageReady();
    bool checkSize(uint64_t size);
    // The storage worker's descriptor cache (part directories).
    std::shared_ptr<DescriptorCache> descriptors();
    // Where the layout keeps the data: the record's format version, its
    // numeric prefix, the directory (with a trailing '/') and the data
    // file's name (empty for part files).
    void setLayout(uint8_t version, uint32_t number, const OwnedString& directory, const OwnedString& dataFileName);
    const OwnedString& directory() const { return directory_; }
    // The record's path as given to load (empty for a new download).
    void setLoadedFrom(const OwnedString& path) { loadedFrom_ = path; }
    // Removes that record with its backup and temporary, and nothing else.
    void removeLoadedRecord() { removeRecordAt(loadedFrom_); }
    void setBytesDone(int64_t done);
    // The parts, made by createParts; set once before the file is used.
    void setParts(std::vector<std::unique_ptr<FilePart>> parts);
    FilePart& part(uint32_t index) const { return *parts_[index]; }

private:
    // Work on the file's data under its mutex.
    friend class CheckResults;
    friend class RecordSaver;
    friend class FinalCheck;

    // A friend holds this mutex under its own name (its reference to it):
    // so is mutex_.
    void sameLock([[maybe_unused]] const SysMutex& alias) const TS_REQUIRES(alias) TS_ASSERT_CAPABILITY(mutex_) {}

    void setSizeFields(uint64_t size) TS_REQUIRES(mutex_);

    bool allPresentLocked() const TS_REQUIRES(mutex_);
    uint64_t crumbStart(uint32_t crumb) const { return static_cast<uint64_t>(crumb) * kCrumbSize; }
    uint64_t crumbEnd(uint32_t crumb) const;
    uint32_t firstCrumbOf(uint32_t part) const { return part * (kPartSize / kCrumbSize); }
    uint32_t endCrumbOf(uint32_t part) const;
    bool readHashSet(i4_file* reader, bool withCrumbs);

    // The record's path as given to load (empty for a new download).
    OwnedString loadedFrom_;
    mutable SysMutex mutex_;
    std::vector<std::unique_ptr<FilePart>> parts_;
    OwnedString dataFileName_;
    FileHandle dataFile_;
    OwnedString directory_;  // with trailing '/'
    uint8_t version_ = 224;
    uint32_t partCount_ = 0;
    uint32_t crumbCount_ = 0;
    uint32_t number_ = 0;
    uint64_t size_ = 0;
    PartialFileOwner* owner_;
    StorageWorker* worker_;

    GapList gaps_;
    FileMeta meta_ TS_GUARDED_BY(mutex_);
    std::unique_ptr<FileMeta> sharedRecord_;
    std::atomic<int> state_{kActive};
    int64_t bytesDone_ TS_GUARDED_BY(mutex_) = 0;
    bool hashSetKnown_ TS_GUARDED_BY(mutex_) = false;
    CheckResults checks_{*this, mutex_};
    RecordSaver saver_{*this, mutex_};
    FinalCheck final_{*this, mutex_};
};
