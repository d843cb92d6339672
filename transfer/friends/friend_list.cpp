#include "transfer/friends/friend_list.h"

#include <atomic>

#include "core/meta/file_meta.h"
#include "core/meta/meta_messages.h"
#include "core/meta/user_list.h"
#include "core/strings/string_table.h"
#include "core/ui/record_table.h"
#include "core/ui/transfer_ui.h"
#include "core/ui/ui_gateway.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"
#include "transfer/sharing/file_reports.h"
#include "transfer/sharing/known_met.h"

namespace {

std::atomic<FriendList*> gFriends{nullptr};

// The holder tag of the use taken on a friend's connection that carries a
// waiting request.
constexpr const char* kNewPeerTag = "FriendList::newPeer";

void printLine(const char* text) {
    if (UIGateway* ui = currentUI()) ui->print("%s", text ? text : "");
}

void printText(const char* key, const char* fallback) { printLine(uiText(key, fallback).c_str()); }

// "Asking <name> for file list."
void printAsking(Peer* peer) {
    if (UIGateway* ui = currentUI())
        ui->print("%s %s %s", uiString(STRINGS_ASKING), peer->name(), uiString(STRINGS_FOR_FILE_LIST));
}

void logLine(const char* format, const char* name) {
    if (UIGateway* ui = currentUI()) ui->log(format, name ? name : "");
}

}  // namespace

FriendList* FriendList::instance() { return gFriends.load(); }

void FriendList::createInstance() {
    if (!gFriends.load()) gFriends.store(new FriendList());
}

void FriendList::destroyInstance() { delete gFriends.exchange(nullptr); }

FriendList::~FriendList() = default;

// ---- friend.met ----

MetaListLoad FriendList::load(const char* path) {
    UserList records;
    MetaListLoad result = records.load(path);
    if (result == MetaListLoad::kFailed) {
        records.clear();
        metaPrint(kErrorLoadingText, path ? path : "");
        keepAsideUnreadable(path);
        clear();
        return result;
    }
    {
        SysMutexGuard guard(&lock_);
        LLsafeGuard hold(records.list());
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(records.list(), &cursor))
            friends_.push_back(std::make_unique<FriendCache>(static_cast<UserMeta*>(element)));
    }
    records.clear();
    return result;
}

bool FriendList::save(const char* path) {
    UserList records;
    bool ok;
    {
        SysMutexGuard guard(&lock_);
        for (auto& cache : friends_) records.add(&cache->user);
        ok = records.save(path, true);
        // The records belong to the friends.
        records.unlinkAll();
    }
    if (!ok) reportNotSaved(path);
    return ok;
}

// ---- the list ----

FriendCache* FriendList::findLocked(const UserMeta* user) {
    if (!user) return nullptr;
    for (auto& cache : friends_)
        if (cache->user.sameUser(user)) return cache.get();
    return nullptr;
}

void FriendList::addFriend(const UserMeta* user) {
    if (!user) return;
    {
        SysMutexGuard guard(&lock_);
        if (findLocked(user)) return;
        friends_.push_back(std::make_unique<FriendCache>(user));
    }
    if (TransferUI* ui = currentTransferUI()) ui->friendsChanged();
}

void FriendList::removeFriend(int index) {
    std::unique_ptr<FriendCache> gone;
    SysMutexGuard guard(&lock_);
    if (index < 1 || static_cast<size_t>(index) > friends_.size()) return;
    auto place = friends_.begin() + (index - 1);
    gone = std::move(*place);
    friends_.erase(place);
    if (pending_ && pending_->user.sameUser(&gone->user)) pending_.reset();
}

void FriendList::clear() {
    SysMutexGuard guard(&lock_);
    friends_.clear();
    pending_.reset();
}

int FriendList::count() {
    SysMutexGuard guard(&lock_);
    return static_cast<int>(friends_.size());
}

std::vector<UserMeta> FriendList::friendUsers() {
    SysMutexGuard guard(&lock_);
    std::vector<UserMeta> users;
    users.reserve(friends_.size());
    for (auto& cache : friends_) users.emplace_back(cache->user);
    return users;
}

bool FriendList::friendAt(int index, UserMeta* out) {
    SysMutexGuard guard(&lock_);
    if (!out || index < 1 || static_cast<size_t>(index) > friends_.size()) return false;
    out->assign(&friends_[static_cast<size_t>(index - 1)]->user);
    return true;
}

bool FriendList::findByHash(const UniqueID& hash, UserMeta* out) {
    if (hash.isZero()) return false;
    SysMutexGuard guard(&lock_);
    for (auto& cache : friends_) {
        if (!cache->user.userHash().equals(hash)) continue;
        if (out) out->assign(&cache->user);
        return true;
    }
    return false;
}

// ---- the peer protocol's questions and answers ----

bool FriendList::isFriend(const UserMeta* user) {
    SysMutexGuard guard(&lock_);
    return findLocked(user) != nullptr;
}

bool FriendList::setViewFlag(const UserMeta* user, bool canView) {
    // A refusal is the answer too.
    if (!canView) answered(user);
    SysMutexGuard guard(&lock_);
    FriendCache* cache = findLocked(user);
    if (!cache) return false;
    cache->viewFlag = canView;
    return true;
}

void FriendList::answered(const UserMeta* user) {
    Peer* done = nullptr;
    {
        SysMutexGuard guard(&lock_);
        if (!waiting_ || !user || waiting_->user() != user) return;
        done = waiting_;
        waiting_ = nullptr;
    }
    done->release(kNewPeerTag);
}

void FriendList::gotDirectories(UserMeta* user, std::vector<OwnedString> names) {
    if (!user) return;
    answered(user);
    {
        SysMutexGuard guard(&lock_);
        FriendCache* cache = findLocked(user);
        if (!cache) {
            // Only friends are asked; a list from anyone else gives it no
            // place in the list.
            logLine("Directory list from %s dropped: not a friend", user->nickname());
            return;
        }
        cache->dirs.clear();
        cache->dirs.reserve(names.size());
        for (OwnedString& name : names)
            cache->dirs.push_back(std::make_unique<FriendCacheDir>(name.c_str() ? name.c_str() : ""));
    }
    if (TransferUI* ui = currentTransferUI()) ui->gotFriendDirs(user);
}

void FriendList::gotFiles(UserMeta* user, const char* directory, std::unique_ptr<FileList> files) {
    if (!files) return;
    const char* name = directory ? directory : "";
    bool stored = false;
    answered(user);
    if (user) {
        SysMutexGuard guard(&lock_);
        if (FriendCache* cache = findLocked(user)) {
            FriendCacheDir* dir = cache->findDir(name);
            if (!dir) {
                cache->dirs.push_back(std::make_unique<FriendCacheDir>(name));
                dir = cache->dirs.back().get();
            }
            dir->takeFiles(files.get());
            stored = true;
        }
    }
    files->clear();
    if (!stored) {
        logLine("File list from %s dropped: not a friend", user ? user->nickname() : "");
        return;
    }
    if (TransferUI* ui = currentTransferUI()) ui->gotFriendFiles(user, name);
}

// ---- listings ----

void FriendList::requestListing(const UserMeta* friendUser, const char* directory) {
    {
        SysMutexGuard guard(&lock_);
        pending_.reset();
        if (!friendUser) return;
        pending_.emplace();
        pending_->user.assign(friendUser);
        if (directory) pending_->directory = OwnedString(directory);
    }
    if (friendUser->ip() == 0) {
        printLine(kNoLookupText);
        return;
    }
    ClientPool* pool = clientPool();
    if (!pool) return;
    UserMeta target(*friendUser);
    Peer* peer = nullptr;
    int result = pool->connect(&target, &peer, false);
    int32_t state = -1;
    switch (result) {
        case ClientPool::kConnected:
            if (!peer) break;
            printAsking(peer);
            peer->sendDirectoryRequest(directory);
            {
                // Answered at once: nothing waits for a connection.
                SysMutexGuard guard(&lock_);
                pending_.reset();
            }
            break;
        case ClientPool::kConnecting:
            state = kFriendConnecting;
            if (UIGateway* ui = currentUI()) ui->print("%s", uiString(STRINGS_WAITING_CONNECTION));
            break;
        case ClientPool::kBothLowId:
            state = kFriendUnreachable;
            if (UIGateway* ui = currentUI()) ui->print("%s", uiString(STRINGS_CANT_CONNECT_USER));
            break;
        default:
            break;
    }
    if (state >= 0) {
        SysMutexGuard guard(&lock_);
        if (FriendCache* cache = findLocked(friendUser)) cache->user.setFriendState(state);
    }
}

void FriendList::showDirectories(const UserMeta* friendUser, bool refetch) {
    if (!refetch) {
        SysMutexGuard guard(&lock_);
        FriendCache* cache = findLocked(friendUser);
        if (cache && !cache->dirs.empty()) {
            if (UIGateway* ui = currentUI()) {
                ui->print("%d directories:", static_cast<int>(cache->dirs.size()));
                int number = 0;
                for (auto& dir : cache->dirs) ui->print("%d) %s", ++number, dir->name.c_str() ? dir->name.c_str() : "");
            }
            return;
        }
    }
    requestListing(friendUser, nullptr);
    printText(kFetchingDirsKey, kFetchingDirsDefault);
}

void FriendList::showFiles(const UserMeta* friendUser, const char* directory, bool refetch) {
    enum { kNoDirs, kNoSuchDir, kShown, kFetch } outcome;
    {
        SysMutexGuard guard(&lock_);
        FriendCache* cache = findLocked(friendUser);
        FriendCacheDir* dir = cache ? cache->findDir(directory ? directory : "") : nullptr;
        if (!cache || cache->dirs.empty()) {
            outcome = kNoDirs;
        } else if (!dir) {
            outcome = kNoSuchDir;
        } else if (dir->files.count() > 0 && !refetch) {
            outcome = kShown;
            if (UIGateway* ui = currentUI()) ui->print("%d files:", dir->files.count());
            printRecordTable(&dir->files);
        } else {
            outcome = kFetch;
        }
    }
    switch (outcome) {
        case kNoDirs:
            requestListing(friendUser, nullptr);
            printText(kNoFetchNoDirKey, kNoFetchNoDirDefault);
            break;
        case kNoSuchDir:
            if (UIGateway* ui = currentUI())
                ui->print("%s (%s)", uiText(kInvalidDirKey, kInvalidDirDefault).c_str(), directory ? directory : "");
            break;
        case kFetch:
            requestListing(friendUser, directory);
            printText(kFetchingFilesKey, kFetchingFilesDefault);
            break;
        case kShown:
            break;
    }
}

int FriendList::directoryCount(const UserMeta* friendUser) {
    SysMutexGuard guard(&lock_);
    FriendCache* cache = findLocked(friendUser);
    return cache ? static_cast<int>(cache->dirs.size()) : -1;
}

bool FriendList::directoryAt(const UserMeta* friendUser, int index, OwnedString* out) {
    SysMutexGuard guard(&lock_);
    FriendCache* cache = findLocked(friendUser);
    if (!cache || !out || index < 1 || static_cast<size_t>(index) > cache->dirs.size()) return false;
    *out = cache->dirs[static_cast<size_t>(index - 1)]->name;
    return true;
}

FileMeta* FriendList::fileCopy(const UserMeta* friendUser, const char* directory, int index) {
    SysMutexGuard guard(&lock_);
    FriendCache* cache = findLocked(friendUser);
    FriendCacheDir* dir = cache ? cache->findDir(directory ? directory : "") : nullptr;
    if (!dir || index < 1 || index > dir->files.count()) return nullptr;
    auto* record = static_cast<FileMeta*>(dir->files.at(index - 1));
    if (!record) return nullptr;
    auto* copy = new FileMeta();
    copy->copyTags(record);
    copy->setFileHash(record->fileHash());
    return copy;
}

// ---- connections ----

void FriendList::newPeer(TCPConnection* connection) {
    auto* peer = static_cast<Peer*>(connection);
    if (!peer) return;
    bool isFriendPeer = false;
    Peer* earlier = nullptr;
    {
        SysMutexGuard guard(&lock_);
        if (FriendCache* cache = findLocked(peer->user())) {
            isFriendPeer = true;
            bool requested =
                pending_ && (pending_->user.sameUser(&cache->user) || pending_->user.sameUser(peer->user()));
            cache->user.assign(peer->user());
            cache->user.setFriendState(kFriendConnected);
            if (requested) {
                // The use keeps an outgoing connection open for the answer
                // (one use, however many requests wait on it).
                if (waiting_ != peer) {
                    earlier = waiting_;
                    waiting_ = peer;
                    peer->addRef(kNewPeerTag);
                }
                printAsking(peer);
                peer->sendDirectoryRequest(pending_->directory.c_str());
                pending_.reset();
            }
        }
    }
    // A connection still waiting for an earlier answer waits no longer.
    if (earlier) earlier->release(kNewPeerTag);
    TransferUI* ui = currentTransferUI();
    if (!ui) return;
    if (isFriendPeer) {
        ui->friendsChanged();
    } else {
        ui->peerConnected(peer->user());
    }
}

void FriendList::peerClosed(TCPConnection* connection) {
    auto* peer = static_cast<Peer*>(connection);
    if (!peer) return;
    bool isFriendPeer = false;
    {
        SysMutexGuard guard(&lock_);
        if (waiting_ == peer) waiting_ = nullptr;
        if (FriendCache* cache = findLocked(peer->user())) {
            isFriendPeer = true;
            cache->user.setFriendState(kFriendNotConnected);
        }
    }
    TransferUI* ui = currentTransferUI();
    if (!ui) return;
    if (isFriendPeer) {
        ui->friendsChanged();
    } else {
        ui->peerDisconnected(peer->user(), peer->totalReceived(), peer->totalSent());
    }
}

// ---- tests ----

bool FriendList::hasPendingRequest() {
    SysMutexGuard guard(&lock_);
    return pending_.has_value();
}

bool FriendList::pendingRequest(UserMeta* who, OwnedString* directory) {
    SysMutexGuard guard(&lock_);
    if (!pending_) return false;
    if (who) who->assign(&pending_->user);
    if (directory) *directory = pending_->directory;
    return true;
}
