// FinalCheck: the check of a partial file whose bytes are all there. The
// file hash is made from every part read from the disk (bytes verified
// earlier may have changed since); a matching file is moved to the
// incoming directory (or kept in the temporary directory under its own
// name), shared, and its record removed. A file that does not match
// names its bad parts by the part hashes; without them the download
// waits for its hash set and counts nothing as done until it arrives.
//
// It belongs to one PartialFile; the layout (PartialFile::complete and
// its overrides) gets the data into one file and decides what to keep.
#pragma once

#include <cstdint>
#include <vector>

#include "v4ada/containers/unique_id.h"
#include "v4ada/digest/md4.h"
#include "v4ada/threads/linux/sys_mutex.h"

class PartialFile;

class FinalCheck {
public:
    // mutex is the file's own.
    FinalCheck(PartialFile& file, SysMutex& mutex) : file_(file), mutex_(mutex) {}
    FinalCheck(const FinalCheck&) = delete;
    FinalCheck& operator=(const FinalCheck&) = delete;

    // Part digests of the assembled or single file at path, every part
    // read from the disk. False when the file cannot be read.
    bool digestsOf(const char* path, std::vector<Md4Hash>& digests);
    // True when the file hash of the digests matched. The file at
    // dataPath is then moved to incoming (or kept in the temporary
    // directory under its own name), shared and the record removed; when
    // it can be moved nowhere *placed is false and nothing else happens:
    // the file, its record and the state stay for the caller to keep.
    bool finish(const char* dataPath, const std::vector<Md4Hash>& digests, bool* placed);
    // Parts whose digest differs from their part hash. False when a part
    // hash is missing, so nothing can be named.
    bool badParts(const std::vector<Md4Hash>& digests, std::vector<uint32_t>& bad);
    // After a failed check without the part hashes: true when they are
    // unknown, and then nothing counts as done until they arrive (the
    // owner asks its sources for them; their checks name the bad parts).
    bool waitForHashSet();
    // Waiting for the hash set (under the file's mutex).
    bool awaitingLocked() const TS_REQUIRES(mutex_) { return awaitingHashSet_; }
    // The caller holds the file's mutex: so is mutex_, the same lock under
    // this class's name.
    void sameLock([[maybe_unused]] const SysMutex& fileMutex) const TS_REQUIRES(fileMutex) TS_ASSERT_CAPABILITY(mutex_) {}

    // File hash of the digests in part order.
    static void fileHashOf(const std::vector<Md4Hash>& digests, uint8_t* out);

private:
    PartialFile& file_;
    SysMutex& mutex_;  // the file's
    bool awaitingHashSet_ TS_GUARDED_BY(mutex_) = false;
};
