// TransferUI: events of downloads, uploads, sharing, friends and private
// messages for the active user interface. Every operation has a default
// (all but doorFailed do nothing), so a user interface overrides only what
// it shows. Called from the task thread, and from the hashing thread for
// setStatus and sharesLoaded: implementations lock what they share.
#pragma once

#include <cstdint>

class Download;
class FileMeta;
class LLsafe;
class MessageSession;
class UploadSlot;
class UserMeta;

// Texts of the default doorFailed (string-table keys and English defaults).
constexpr const char* kCantListenKey = "cantListenOnPort";
constexpr const char* kCantListenDefault = "ERROR: can't listen on port";
constexpr const char* kCantStartDoorKey = "errorCantStartDoor";
constexpr const char* kCantStartDoorDefault =
    "Port is probably in use.\nChange port by typing: 'port ####' at the prompt.";

class TransferUI {
public:
    virtual ~TransferUI() = default;

    // The peer door cannot listen on its TCP port. The default prints the
    // two lines "<cantListenOnPort> <port>." and <errorCantStartDoor>
    // through the current gateway.
    virtual void doorFailed(int tcpPort);
    virtual void downloadAdded(Download* download) { (void)download; }
    virtual void downloadRemoved(Download* download) { (void)download; }
    virtual void uploadSlotRemoved(UploadSlot* slot) { (void)slot; }
    virtual void uploadSlotChanged(UploadSlot* slot) { (void)slot; }
    virtual void friendsChanged() {}
    virtual void peerConnected(UserMeta* peer) { (void)peer; }
    virtual void peerDisconnected(UserMeta* peer, uint64_t received, uint64_t sent) {
        (void)peer, (void)received, (void)sent;
    }
    virtual void gotFriendFiles(UserMeta* friendUser, const char* directory) {
        (void)friendUser, (void)directory;
    }
    virtual void gotFriendDirs(UserMeta* friendUser) { (void)friendUser; }
    virtual void filesRefused(UserMeta* peer) { (void)peer; }
    virtual void spare11() {}
    virtual void setStatus(const char* text) { (void)text; }
    virtual void sharesLoaded() {}
    virtual void sharedFileChanged(FileMeta* file) { (void)file; }
    virtual void sharedFileRemoved(FileMeta* file) { (void)file; }
    virtual void gotMessage(MessageSession* session, const char* text) { (void)session, (void)text; }
    virtual void sessionChanged(MessageSession* session) { (void)session; }
    // The downloads list (of Download*) for the remote controller; null
    // when the user interface keeps none.
    virtual LLsafe* downloadList() { return nullptr; }
};

// The user interface the transfer side reports to: null until start-up
// (or a test) sets one; not owned. Any thread may read it.
TransferUI* currentTransferUI();
// Returns the previous one.
TransferUI* setCurrentTransferUI(TransferUI* ui);
