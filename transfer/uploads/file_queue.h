// FileQueue: the peers waiting for one file, first served first. Its
// priority is the shared file's upload priority when the queue is made
// (0 for a file not shared), changed later by UploadQueue::setFilePriority.
// Task thread.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include "core/meta/user_meta.h"
#include "v4ada/containers/unique_id.h"

class FileQueue {
public:
    explicit FileQueue(const UniqueID& hash);
    FileQueue(const FileQueue&) = delete;
    FileQueue& operator=(const FileQueue&) = delete;

    void append(std::unique_ptr<UserMeta> user);
    void prepend(std::unique_ptr<UserMeta> user);
    // The first user, or null.
    std::unique_ptr<UserMeta> pop();
    // The first record of the same user, with its 1-based place; null when
    // none.
    UserMeta* find(const UserMeta& user, uint32_t* position);
    // While the hashing thread still goes through the shared directories,
    // only queues of files already shared are served; afterwards every
    // queue is (those of files no longer shared drain).
    bool serviceable() const;

    const UniqueID& hash() const { return hash_; }
    int priority() const { return priority_; }
    void setPriority(int priority) { priority_ = priority; }
    int count() const { return static_cast<int>(users_.size()); }
    // The user at a 0-based place (for listings and saves).
    UserMeta& at(int index) const { return *users_[static_cast<size_t>(index)]; }

private:
    std::deque<std::unique_ptr<UserMeta>> users_;
    int priority_ = 0;
    UniqueID hash_;
};
