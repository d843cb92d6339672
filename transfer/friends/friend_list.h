// FriendList: the users this client calls friends. It follows their
// connections through the peer pool's events, fetches their shared
// directory lists and the file lists of those directories on request,
// keeps what they sent in a cache, and answers the peer protocol's
// questions (is this user a friend, may it view files). The list persists
// in friend.met; the connection states and the caches are not stored.
//
// friend.met is a UserList in the record-list file form, little-endian:
//   u8 14 | u32 count | count x (u32 IP | u16 port | 16-byte user hash |
//   u32 tag count | tags)
// with IP and port 0 for a low-ID friend (core/meta/meta_list.h,
// user_meta.h).
//
// A listing request waits for the friend's connection when there is none
// yet: the pending request keeps its own copy of the friend's identity and
// of the directory name, so removing the friend or replacing its cache
// never leaves it pointing at freed records.
//
// The process-wide list is made and destroyed explicitly
// (createInstance / destroyInstance); while it exists start-up registers
// it with the peer pool and installs it as the peer protocol's friends.
//
// Threads: everything runs on the task thread, except save at shutdown
// (main thread, once the task thread has stopped). The list is locked; no
// lock is held across a call into the peer pool or the transfer UI.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "core/meta/meta_list.h"
#include "core/meta/user_meta.h"
#include "core/net/peer_event_handler.h"
#include "transfer/friends/friend_cache.h"
#include "transfer/peer/peer_sides.h"
#include "v4ada/threads/linux/sys_mutex.h"

class FileMeta;
class Peer;

// Texts (string-table keys and English defaults).
constexpr const char* kNoLookupText = "Need to look for user. Not yet implemented.";
constexpr const char* kFetchingDirsKey = "fetchingDirs";
constexpr const char* kFetchingDirsDefault = "fetching requested dirs...";
constexpr const char* kNoFetchNoDirKey = "noFetchNoDir";
constexpr const char* kNoFetchNoDirDefault = "can't fetch files without dirs!\nfetching requested dirs...";
constexpr const char* kInvalidDirKey = "invalidDir";
constexpr const char* kInvalidDirDefault = "invalid directory name!";
constexpr const char* kFetchingFilesKey = "fetchingFiles";
constexpr const char* kFetchingFilesDefault = "fetching requested files...";

class FriendList : public PeerEventHandler, public PeerFriends {
public:
    FriendList() = default;
    // Deletes every friend and its cache.
    virtual ~FriendList();
    FriendList(const FriendList&) = delete;
    FriendList& operator=(const FriendList&) = delete;

    static FriendList* instance();
    // Keeps an existing list.
    static void createInstance();
    static void destroyInstance();

    // Appends one friend per record of friend.met, in file order. A missing
    // file is no fault and says nothing. One that does not read whole
    // prints "Error loading: <path>", is put aside (reported) so that no
    // later save replaces it, and leaves the list empty.
    MetaListLoad load(const char* path);
    // Writes every friend's record through the safe file; a failure is
    // reported ("Couldn't save <path>") and the old file stays. True when
    // written.
    bool save(const char* path);

    // Appends a copy of the record unless a friend is the same user; then
    // TransferUI::friendsChanged.
    void addFriend(const UserMeta* user);
    // Removes and deletes the friend at that place (1-based) with its
    // cache, and any request pending for it; nothing out of range.
    void removeFriend(int index);
    // Empties the list.
    void clear();
    int count();
    // Copies of every friend's record, in list order (friend states
    // included).
    std::vector<UserMeta> friendUsers();
    // A copy of the friend at that place (1-based); false out of range.
    bool friendAt(int index, UserMeta* out);
    // The record of the first friend with that user hash (copied to out
    // when given); an all-zero hash names nobody.
    bool findByHash(const UniqueID& hash, UserMeta* out = nullptr);

    // PeerFriends.
    bool isFriend(const UserMeta* user) override;
    bool setViewFlag(const UserMeta* user, bool canView) override;
    // From a friend: its directories are replaced by these names (without
    // files), then TransferUI::gotFriendDirs. From anyone else: dropped,
    // with a log line.
    void gotDirectories(UserMeta* user, std::vector<OwnedString> names) override;
    // From a friend: the directory of that name (exact bytes), or a new
    // one, takes the records, then TransferUI::gotFriendFiles. From anyone
    // else: dropped, with a log line.
    void gotFiles(UserMeta* user, const char* directory, std::unique_ptr<FileList> files) override;

    // Asks the friend for its directory list (null directory) or for the
    // files of one directory: at once when connected, else when the
    // connection the pool makes arrives (newPeer).
    void requestListing(const UserMeta* friendUser, const char* directory);
    // Prints the cached directories, or asks for them.
    void showDirectories(const UserMeta* friendUser, bool refetch);
    // Prints the cached files of a directory, or asks for them.
    void showFiles(const UserMeta* friendUser, const char* directory, bool refetch);
    // The number of cached directories of the friend; -1 when it is none.
    int directoryCount(const UserMeta* friendUser);
    // The name of the friend's directory at that place (1-based).
    bool directoryAt(const UserMeta* friendUser, int index, OwnedString* out);
    // A new record with the tags and the hash of the file at that place
    // (1-based) of the friend's directory; null when there is none.
    FileMeta* fileCopy(const UserMeta* friendUser, const char* directory, int index);

    // PeerEventHandler.
    void peerClosed(TCPConnection* connection) override;
    void newPeer(TCPConnection* connection) override;

    // The pending request, for tests: whether one waits, for whom, and for
    // which directory (null: the directory list).
    bool hasPendingRequest();
    bool pendingRequest(UserMeta* who, OwnedString* directory);

private:
    struct PendingRequest {
        UserMeta user;           // the friend's identity when asked
        OwnedString directory;   // null: the directory list
    };

    FriendCache* findLocked(const UserMeta* user) TS_REQUIRES(lock_);
    // The answer to a request sent on a connection that arrived for it
    // (list, files or refusal) came from that user: the use taken to keep
    // the connection open for it is given back.
    void answered(const UserMeta* user);

    SysMutex lock_;  // friends_, pending_ and waiting_
    std::vector<std::unique_ptr<FriendCache>> friends_ TS_GUARDED_BY(lock_);
    std::optional<PendingRequest> pending_ TS_GUARDED_BY(lock_);
    // The connection that holds a use of ours until its answer comes;
    // forgotten, without a release, when it closes first.
    Peer* waiting_ TS_GUARDED_BY(lock_) = nullptr;
};

inline FriendList* friendList() { return FriendList::instance(); }
