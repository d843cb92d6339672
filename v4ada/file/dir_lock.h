// DirectoryLock: one process at a time in a directory. It holds an
// exclusive lock (flock) on a lock file there for as long as it lives; a
// second process asking for the same directory is refused at once. The lock
// file stays (removing it would race with the next taker); the lock goes
// with the process, however it ends.
#pragma once

#include "v4ada/string/owned_string.h"

class DirectoryLock {
public:
    enum class Result { kLocked, kHeldElsewhere, kFailed };

    DirectoryLock() = default;
    ~DirectoryLock() { release(); }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    // Locks <dir>/<fileName>, creating the file when needed. kFailed when
    // it cannot be created or locked (reason() tells why).
    Result acquire(const char* dir, const char* fileName);
    void release();
    bool held() const { return fd_ >= 0; }
    const OwnedString& path() const { return path_; }
    const OwnedString& reason() const { return reason_; }

private:
    int fd_ = -1;
    OwnedString path_;
    OwnedString reason_;
};
