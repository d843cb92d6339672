// SharedFilesPoster: the download storage's shared-files sink. Partial
// files call it on the task thread and on completion threads, so every
// call is handed to the task thread through the bus, in call order, where
// the transfer hub carries it out: an added copy as MSG_ADD_SHARED_FILE,
// a removal or a final place as MSG_SHARED_FILE_UPDATE. A final place
// that finds no shared entry there prints "ERROR: File not added to
// shared?".
#pragma once

#include <cstdint>

#include "downloads/storage/download_services.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/string/owned_string.h"

// The data of MSG_SHARED_FILE_UPDATE.
struct SharedFileUpdate {
    enum class Kind { kRemove, kFinalPlace };
    Kind kind = Kind::kRemove;
    UniqueID hash;
    OwnedString path;           // kFinalPlace
    uint32_t modificationTime = 0;  // kFinalPlace
};

class IndexedFileList;

class SharedFilesPoster : public SharedFilesSink {
public:
    // The shared files that contains looks in (a locked list; not owned).
    explicit SharedFilesPoster(IndexedFileList* shared = nullptr) : shared_(shared) {}

    void addSharedFile(FileMeta* copy) override;
    void removeSharedFile(const FileMeta& record) override;
    // Always true: whether an entry exists is known only on the task
    // thread, which reports a missing one.
    bool finalPlace(const UniqueID& hash, const char* path, uint32_t modificationTime) override;
    // Any thread: whether the shared files hold the hash now.
    bool contains(const UniqueID& hash) override;

private:
    IndexedFileList* shared_;
};
