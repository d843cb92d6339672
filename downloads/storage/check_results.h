// CheckResults: what a partial file knows of its data's digests. It keeps
// the verified crumbs and parts, the checks pending and the crumb-check
// failures; queues checks of pieces that are complete (on the storage
// worker, or on the caller when there is none); and applies the results,
// which come back from other threads, on the task thread: verified bits,
// have-notices, the range chooser, corruption put back into the gaps.
//
// It belongs to one PartialFile and works on that file's data. Every
// member ending in Locked, and the maps, are used under the file's mutex
// (mutex_ names it here); queueing (submit), posting and applying take the
// locks they need.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "downloads/storage/gap_list.h"
#include "downloads/storage/part_check.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/threads/linux/sys_mutex.h"

class PartialFile;

class CheckResults {
public:
    using Checks = std::vector<std::unique_ptr<PartCheck>>;

    // mutex is the file's own.
    CheckResults(PartialFile& file, SysMutex& mutex) : file_(file), mutex_(mutex) {}
    CheckResults(const CheckResults&) = delete;
    CheckResults& operator=(const CheckResults&) = delete;

    // Sizes every map for the file's crumbs and parts; nothing verified,
    // nothing pending.
    void resizeLocked(uint32_t partCount, uint32_t crumbCount) TS_REQUIRES(mutex_);
    // After a load: parts whose file did not change since the last save
    // are taken as verified where they have no gap (no hashing). True
    // when something was marked; the crumbs a part added are in notices.
    bool trustUnchangedLocked(std::vector<uint32_t>& notices) TS_REQUIRES(mutex_);

    // Queues in jobs the checks of the complete, unverified pieces of part
    // p between the two crumbs (inclusive), or of the whole part when it
    // is complete.
    void collectLocked(uint32_t p, uint32_t firstCrumb, uint32_t lastCrumb, Checks& jobs) TS_REQUIRES(mutex_);
    void collectAllLocked(Checks& jobs) TS_REQUIRES(mutex_);
    // Runs the jobs on the storage worker (or here without one). Without
    // the file's mutex.
    void submit(Checks& jobs);
    // Queues a result for apply (any thread).
    void post(std::unique_ptr<PartCheck> check);
    // See PartialFile::verify.
    bool verify();
    // See PartialFile::applyResults.
    bool apply();
    // See PartialFile::reopenPart.
    void reopenPart(uint32_t part, CheckOutcome why, uint64_t readableEnd);

    // Crumb hashes taken from a hash-set answer are dropped when these are
    // dropped for the run or already complete.
    bool keepsCrumbHashesLocked() const TS_REQUIRES(mutex_);
    bool crumbHashesDroppedLocked() const TS_REQUIRES(mutex_) { return crumbHashesDropped_; }
    int pendingLocked() const TS_REQUIRES(mutex_) { return pending_; }
    // A part whose bytes the record may claim as verified (or trusted
    // unchanged) at a save.
    bool partTrustedLocked(uint32_t part) const TS_REQUIRES(mutex_);
    // Some crumb set in the map is not verified here.
    bool needsFromLocked(const BoolArray* map) const TS_REQUIRES(mutex_);
    const BoolArray& crumbsLocked() const TS_REQUIRES(mutex_) { return verifiedCrumbs_; }
    const BoolArray& partsLocked() const TS_REQUIRES(mutex_) { return verifiedParts_; }
    // True once after apply verified a whole part (task thread).
    bool takePartVerified() { return std::exchange(partVerified_, false); }
    // The caller holds the file's mutex: so is mutex_, the same lock under
    // this class's name.
    void sameLock([[maybe_unused]] const SysMutex& fileMutex) const TS_REQUIRES(fileMutex) TS_ASSERT_CAPABILITY(mutex_) {}

private:
    struct Events;
    class Job;

    void applyPart(const PartCheck& check, Events& events) TS_REQUIRES(mutex_);
    void applyCrumb(const PartCheck& check, const CrumbCheck& crumb, Events& events) TS_REQUIRES(mutex_);
    void markCorruptLocked(uint64_t a, uint64_t b) TS_REQUIRES(mutex_);
    void markMissingLocked(uint64_t a, uint64_t b, Events& events) TS_REQUIRES(mutex_);
    void dropCrumbHashesLocked(uint32_t crumb, Events& events) TS_REQUIRES(mutex_);
    bool crumbHashesUsableLocked() const TS_REQUIRES(mutex_);

    PartialFile& file_;
    SysMutex& mutex_;
    BoolArray verifiedCrumbs_ TS_GUARDED_BY(mutex_);
    BoolArray verifiedParts_ TS_GUARDED_BY(mutex_);
    bool partVerified_ = false;  // task thread: see takePartVerified
    bool crumbHashesDropped_ TS_GUARDED_BY(mutex_) = false;
    uint32_t crumbGeneration_ TS_GUARDED_BY(mutex_) = 0;
    std::vector<uint8_t> pendingCrumb_ TS_GUARDED_BY(mutex_);
    std::vector<uint8_t> pendingPart_ TS_GUARDED_BY(mutex_);
    std::vector<uint8_t> crumbFailures_ TS_GUARDED_BY(mutex_);
    std::vector<uint32_t> partGeneration_ TS_GUARDED_BY(mutex_);
    int pending_ TS_GUARDED_BY(mutex_) = 0;

    SysMutex resultsMutex_;
    Checks results_ TS_GUARDED_BY(resultsMutex_);
};
