#include "transfer/friends/friend_cache.h"

#include <cstring>

void FriendCacheDir::takeFiles(FileList* received) {
    files.clear();
    if (!received) return;
    LLsafe* from = received->list();
    LLsafeGuard hold(from);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(from, &cursor)) files.MetaList::add(static_cast<Meta*>(element));
    from->LL::clear();
}

FriendCache::FriendCache(const UserMeta* record) {
    user.assign(record);
    user.setFriendState(kFriendNotConnected);
}

FriendCacheDir* FriendCache::findDir(const char* name) {
    if (!name) return nullptr;
    for (auto& dir : dirs) {
        const char* held = dir->name.c_str() ? dir->name.c_str() : "";
        if (std::strcmp(held, name) == 0) return dir.get();
    }
    return nullptr;
}
