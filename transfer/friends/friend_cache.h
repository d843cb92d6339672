// FriendCache: one friend of the friend list: its user record (whose
// friend-state word holds the connection state), the shared directories
// it last sent with the files received for each, and whether it lets this
// client view its files. FriendCacheDir: one such directory. Both are owned
// by the friend list and touched under its lock only.
#pragma once

#include <memory>
#include <vector>

#include "core/meta/file_list.h"
#include "core/meta/user_meta.h"
#include "v4ada/string/owned_string.h"

// Connection states of a friend, kept in UserMeta::friendState.
enum FriendState : int32_t {
    kFriendNotConnected = 0,
    kFriendConnecting = 1,
    kFriendConnected = 2,
    kFriendUnreachable = 3,
};

class FriendCacheDir {
public:
    explicit FriendCacheDir(const char* name) : name(name) {}
    // Deletes the file records.
    virtual ~FriendCacheDir() { files.clear(); }
    FriendCacheDir(const FriendCacheDir&) = delete;
    FriendCacheDir& operator=(const FriendCacheDir&) = delete;

    // Takes every record of the list over (the list is left empty); the
    // records held before are deleted.
    void takeFiles(FileList* received);

    OwnedString name;  // as the friend sent it
    FileList files;    // owns its records
};

class FriendCache {
public:
    // A copy of the whole record (tags, addresses, hash), state 0.
    explicit FriendCache(const UserMeta* record);
    virtual ~FriendCache() = default;
    FriendCache(const FriendCache&) = delete;
    FriendCache& operator=(const FriendCache&) = delete;

    // The directory of exactly that name, or null.
    FriendCacheDir* findDir(const char* name);

    UserMeta user;
    std::vector<std::unique_ptr<FriendCacheDir>> dirs;
    bool viewFlag = true;
};
