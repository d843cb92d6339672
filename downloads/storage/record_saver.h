// RecordSaver: saves a partial file's record (<n>.part.met, see
// part_met.h) so that a restart resumes the download. A save is built on
// the caller (the task thread) from the file's state; the storage worker
// then syncs the data files written since the last save, so that the
// record never claims bytes that are not on the disk, and writes the
// record through a temporary file, synced and renamed. A save not yet
// written is replaced by a newer one; saves reach the disk in order.
//
// It belongs to one PartialFile and reads that file's data under its
// mutex (mutex_ names it here). The parts written since their last sync
// are kept here; the members ending in Locked are used under that mutex.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "downloads/storage/file_part.h"
#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class PartialFile;

class RecordSaver {
public:
    // mutex is the file's own.
    RecordSaver(PartialFile& file, SysMutex& mutex);
    ~RecordSaver();
    RecordSaver(const RecordSaver&) = delete;
    RecordSaver& operator=(const RecordSaver&) = delete;

    // Nothing written yet, for the file's parts.
    void resizeLocked(uint32_t partCount) TS_REQUIRES(mutex_);
    // Part p was written: it is synced before the next record.
    void markWrittenLocked(uint32_t part) TS_REQUIRES(mutex_) { dirtyParts_[part] = 1; }
    // The files written since their last sync, now counted as synced: the
    // single data file (when the layout has one), or the parts' files.
    void takeWrittenLocked(FileHandle& dataFile, std::vector<FilePart*>& parts) TS_REQUIRES(mutex_);

    // See PartialFile::save.
    bool save(bool wait);
    // Waits for a save being written and drops one not yet written.
    void stop();
    // Removes "<path>" with its backup and temporary.
    static void removeAt(const OwnedString& path);
    // The caller holds the file's mutex: so is mutex_, the same lock under
    // this class's name.
    void sameLock([[maybe_unused]] const SysMutex& fileMutex) const TS_REQUIRES(fileMutex) TS_ASSERT_CAPABILITY(mutex_) {}

private:
    struct Snapshot;
    class Job;

    std::unique_ptr<Snapshot> build();
    bool writePending();

    PartialFile& file_;
    SysMutex& mutex_;
    std::vector<uint8_t> dirtyParts_ TS_GUARDED_BY(mutex_);
    // Held while a record is written, so saves reach the disk in order.
    SysMutex writeMutex_;
    SysMutex pendingMutex_;
    std::unique_ptr<Snapshot> pending_ TS_GUARDED_BY(pendingMutex_);
};
