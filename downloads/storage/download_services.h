// The services that download storage reaches in other subsystems, as
// narrow interfaces, and the process-wide set of pointers to them.
//
// Start-up installs each implementer before the first download exists and
// shutdown clears the pointers after the last one is gone; tests install
// fakes and reset the set. A null pointer means "not there": nothing is
// shared, no notice is sent, and a partial file cannot be created without
// settings or storage.
#pragma once

#include <cstdint>

#include "v4ada/string/owned_string.h"

class FileMeta;
class StorageWorker;
class TempNameAllocator;
class UniqueID;
class UserMeta;

// The free space kept by default ("resHD" of 102,400 KiB).
constexpr uint64_t kDefaultReserveBytes = 104857600;

// The transfer settings that downloads read. Any thread.
class DownloadSettings {
public:
    virtual ~DownloadSettings() = default;
    // Directory of partial downloads, without trailing '/'.
    virtual OwnedString tempDir() const = 0;
    // Directory that receives finished downloads, without trailing '/'.
    virtual OwnedString incomingDir() const = 0;
    // True keeps a finished download whose final check failed.
    virtual bool saveCorrupt() const = 0;
    // Free space to keep on the file systems of the temporary and the
    // incoming directory ("resHD"): downloads stop writing at or below it.
    // Base: kDefaultReserveBytes.
    virtual uint64_t reserveBytes() const;
    // Free bytes on the file system holding path; *queried (when given)
    // false when the system could not be asked. Base: fs_free_space.
    virtual uint64_t freeSpace(const char* path, bool* queried) const;
};

// The list of shared files. Called on the task thread and on the
// completion thread, so implementations lock.
class SharedFilesSink {
public:
    virtual ~SharedFilesSink() = default;
    // Takes over a copy of a record to share (a partial file's record has
    // an empty path).
    virtual void addSharedFile(FileMeta* copy) = 0;
    // Stops sharing the file of that record (looked up by its hash).
    virtual void removeSharedFile(const FileMeta& record) = 0;
    // The shared entry of the hash now lives at path with that time;
    // false when there is no entry.
    virtual bool finalPlace(const UniqueID& hash, const char* path, uint32_t modificationTime) = 0;
    // Whether a file of that hash is shared. Base: false.
    virtual bool contains(const UniqueID& hash);
};

// The uploads side: partners hear of each newly verified crumb; the
// uploads of a file pause while it is being completed; partners leave the
// upload queue's priority list. Task thread.
class UploadSide {
public:
    virtual ~UploadSide() = default;
    virtual void sendHaveNotice(const UniqueID& hash, uint32_t crumb) = 0;
    // Pauses (true) or resumes (false) every current upload of the file.
    // Base: nothing.
    virtual void pauseFile(const UniqueID& hash, bool pause);
    // The user is no longer served first as a partner. Base: nothing.
    virtual void removePriorityUser(const UserMeta& user);
};

struct DownloadServices {
    DownloadSettings* settings = nullptr;
    SharedFilesSink* sharedFiles = nullptr;
    UploadSide* uploads = nullptr;
    // Hashing, record saves and open part files of every partial file.
    StorageWorker* storage = nullptr;
    TempNameAllocator* tempNames = nullptr;
};

// The process-wide set (constant-initialised: all null until start-up).
DownloadServices& downloadServices();
// Sets every pointer back to null (shutdown, tests).
void resetDownloadServices();
