// The transfer-side parts a peer connection hands its messages to: the
// uploads, the friends, the private messages and the shares. Each is an
// interface with one process-wide pointer that start-up sets when its
// implementer exists and clears before it goes; while a pointer is null
// the peer answers as when nothing matches (nothing shared, nobody a
// friend, every private message refused). Everything runs on the task
// thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "v4ada/string/owned_string.h"

class FileList;
class FileMeta;
class Peer;
class UniqueID;
class UserMeta;

// The upload pool (ICLT_PART_REQUEST, ICLT_UPLOAD_REQUEST, ICLT_SLOT_RELEASE
// and ICLT_FILE_DONE).
class PeerUploads {
public:
    // Three ranges [starts[i], ends[i]); a range with start >= end is empty.
    virtual void partRequest(Peer* peer, const UniqueID& hash, const uint32_t starts[3],
                             const uint32_t ends[3]) = 0;
    virtual void queueRequest(Peer* peer, const UniqueID& hash) = 0;
    // Ends any upload slot or invitation of this connection.
    virtual void peerClosed(Peer* peer) = 0;

protected:
    ~PeerUploads() = default;
};

// The friend list (directory browsing and the "frAllow" rule).
class PeerFriends {
public:
    virtual bool isFriend(const UserMeta* user) = 0;
    // False when the user is no friend.
    virtual bool setViewFlag(const UserMeta* user, bool canView) = 0;
    // ICLT_DIRECTORY_LIST: the sender's shared directory names.
    virtual void gotDirectories(UserMeta* user, std::vector<OwnedString> names) = 0;
    // ICLT_DIRECTORY_FILES: the records of one directory, handed over.
    virtual void gotFiles(UserMeta* user, const char* directory, std::unique_ptr<FileList> files) = 0;

protected:
    ~PeerFriends() = default;
};

// The private messages.
class PeerMessages {
public:
    // ICLT_MESSAGE; false refuses it (the sender hears
    // ICLT_MESSAGE_REFUSED).
    virtual bool gotMessage(UserMeta* user, const char* text) = 0;
    // ICLT_MESSAGE_REFUSED.
    virtual void notAcceptingCalls(UserMeta* user) = 0;

protected:
    ~PeerMessages() = default;
};

// The shared files.
class PeerShares {
public:
    // The shared record of that file hash, or null. Valid until the task
    // thread changes the shares.
    virtual FileMeta* sharedFile(const UniqueID& hash) = 0;
    // The shared directories' names in share-list order, then
    // "!Incomplete Files".
    virtual std::vector<OwnedString> directoryNames() = 0;
    // The file list of the shared directory of that name (or of
    // "!Incomplete Files"), or null. Valid as sharedFile's records.
    virtual FileList* directoryFiles(const char* name) = 0;
    // Every shared file hash.
    virtual std::vector<UniqueID> sharedHashes() = 0;

protected:
    ~PeerShares() = default;
};

// The installed sides, or null; each setter returns the previous one.
// Not owned. Any thread.
PeerUploads* peerUploads();
PeerUploads* setPeerUploads(PeerUploads* uploads);
PeerFriends* peerFriends();
PeerFriends* setPeerFriends(PeerFriends* friends);
PeerMessages* peerMessages();
PeerMessages* setPeerMessages(PeerMessages* messages);
PeerShares* peerShares();
PeerShares* setPeerShares(PeerShares* shares);
