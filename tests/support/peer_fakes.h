// Recording fakes of every side the peer protocol reaches: the downloads,
// uploads, friends, messages and shares, the overlay gateway, peer-event
// handlers, the peer pool's dialer and the transfer UI. Each call is logged
// as one line of text; answers are plain fields a test sets.
//
//   support::RecordingSides sides;   // installed while it lives
//   sides.downloads.add(hash, size); // ... drive a Peer ...
//   EXPECT_EQ(sides.log, (support::CallLog{"noFile"}));
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/meta/file_list.h"
#include "core/net/peer_event_handler.h"
#include "core/ui/transfer_ui.h"
#include "downloads/peer_downloads.h"
#include "overlay/gateway/network_gateway.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer_sides.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/containers/unique_id.h"

namespace support {

using CallLog = std::vector<std::string>;

// The bits of a map as '1'/'0' text.
std::string bitsOf(const BoolArray& map);
// A map from '1'/'0' text.
void setBits(BoolArray& map, const std::string& bits);
// A hash whose 16 bytes are all the value.
UniqueID hashOf(uint8_t value);
// The remaining bytes of a reader as text.
std::string restOf(i4_file* reader);

class FakeDownload final : public PeerDownload {
public:
    FakeDownload(CallLog* log, const UniqueID& hash, uint64_t size);

    const UniqueID& fileHash() override { return hash; }
    uint64_t fileSize() override { return size; }
    uint32_t crumbCount() override;
    bool hasPartialFile() override { return partial; }
    bool copyPartMap(BoolArray& out) override;
    bool copyCrumbMap(BoolArray& out) override;
    void dataReceived(i4_file* reader, TCPConnection* connection) override;
    void noFile(TCPConnection* connection) override;
    void fileStatus(TCPConnection* connection, BoolArray* crumbs) override;
    void fileNameAnswer(const char* name, TCPConnection* connection) override;
    void partnerAccepted(TCPConnection* connection) override;
    void partnerRefused(TCPConnection* connection) override;
    void haveNotice(TCPConnection* connection, uint32_t crumb) override;
    bool setHashSet(i4_file* reader) override;
    bool setHashSetWithCrumbs(i4_file* reader) override;
    PartialFile* partialFile() override { return partialAnswer; }
    void release() override { references--; }

    CallLog* log;
    UniqueID hash;
    uint64_t size;
    bool partial = true;
    BoolArray parts;
    BoolArray crumbs;
    int references = 0;  // taken by findDownload, dropped by release
    TCPConnection* lastConnection = nullptr;
    // What partialFile answers (not owned).
    PartialFile* partialAnswer = nullptr;
};

class FakeDownloads final : public PeerDownloads {
public:
    explicit FakeDownloads(CallLog* log) : log(log) {}
    FakeDownload* add(const UniqueID& hash, uint64_t size);

    PeerDownload* findDownload(const UniqueID& hash) override;
    void openSlot(TCPConnection* connection) override;
    void uploadEnded(TCPConnection* connection) override;
    void placeInQueue(TCPConnection* connection, uint32_t rank) override;
    void addSource(const UniqueID& hash, UserMeta* user, TCPConnection* connection) override;
    bool acceptPartner(TCPConnection* connection, const UniqueID& hash) override;
    bool hasDownloads() override { return !downloads.empty(); }
    // Partners are the connections listed in partners.
    bool isPartner(TCPConnection* connection) override;
    void partnerClosed(TCPConnection* connection) override;

    CallLog* log;
    std::vector<std::unique_ptr<FakeDownload>> downloads;
    bool partnerAnswer = false;
    // openSlot drops the use the peer took, as the download pool does.
    bool releaseSlotUse = true;
    TCPConnection* lastConnection = nullptr;
    std::vector<TCPConnection*> partners;
};

class FakeUploads final : public PeerUploads {
public:
    explicit FakeUploads(CallLog* log) : log(log) {}
    void partRequest(Peer* peer, const UniqueID& hash, const uint32_t starts[3], const uint32_t ends[3]) override;
    void queueRequest(Peer* peer, const UniqueID& hash) override;
    void peerClosed(Peer* peer) override;
    CallLog* log;
    Peer* lastPeer = nullptr;
};

class FakeFriends final : public PeerFriends {
public:
    explicit FakeFriends(CallLog* log) : log(log) {}
    bool isFriend(const UserMeta* user) override;
    bool setViewFlag(const UserMeta* user, bool canView) override;
    void gotDirectories(UserMeta* user, std::vector<OwnedString> names) override;
    void gotFiles(UserMeta* user, const char* directory, std::unique_ptr<FileList> files) override;
    CallLog* log;
    bool friendAnswer = false;
};

class FakeMessages final : public PeerMessages {
public:
    explicit FakeMessages(CallLog* log) : log(log) {}
    bool gotMessage(UserMeta* user, const char* text) override;
    void notAcceptingCalls(UserMeta* user) override;
    CallLog* log;
    bool accept = true;
};

class FakeShares final : public PeerShares {
public:
    ~FakeShares();
    // A shared record of that hash, size and name, in the directory (an
    // empty path for "!Incomplete Files").
    FileMeta* share(const UniqueID& hash, uint32_t size, const char* name, const std::string& directory);

    FileMeta* sharedFile(const UniqueID& hash) override;
    std::vector<OwnedString> directoryNames() override;
    FileList* directoryFiles(const char* name) override;
    std::vector<UniqueID> sharedHashes() override;

    FileList shared;  // owns the records
    std::vector<std::string> order;  // directory names in share-list order
    std::map<std::string, std::unique_ptr<FileList>> directories;  // not owning
};

class FakeGateway final : public NetworkGateway {
public:
    explicit FakeGateway(CallLog* log) : log(log) {}
    ~FakeGateway() { published.clear(); }
    void start() override {}
    void stop() override {}
    bool askCallback(UserMeta* user) override;
    // Logged as "publish <name>"; a copy of each record is kept.
    void publishFile(FileMeta* file) override;
    DownloadSources* newDownloadSources() override { return nullptr; }
    void republishAll() override { log->push_back("republishAll"); }
    int firewallStatus() override { return firewall; }
    int setFirewalled(int verdict) override;
    void retestFirewall() override { log->push_back("retestFirewall"); }
    uint32_t buddyIp() override { return buddy; }
    int buddyPort() override { return buddyUdpPort; }
    CallLog* log;
    int firewall = kUnknown;
    uint32_t buddy = 0;
    int buddyUdpPort = 0;
    bool callbackAnswer = false;
    FileList published;  // owns the copies
};

class RecordingHandler final : public PeerEventHandler {
public:
    RecordingHandler(CallLog* log, const std::string& name) : log(log), name(name) {}
    void peerClosed(TCPConnection* connection) override;
    void connectFailed(uint32_t ip, uint16_t port) override;
    void newPeer(TCPConnection* connection) override;
    CallLog* log;
    std::string name;
    // newPeer takes a use of the peer with this tag when set.
    bool keepPeers = false;
    std::vector<TCPConnection*> seen;
};

// Answers connects without sockets: dialed peers wait here until the test
// fails them (or the dialer is destroyed).
class FakeDialer final : public PeerDialer {
public:
    ~FakeDialer() override;
    bool dial(Peer* peer) override;
    // The peer hears connectFailed and is deleted, as a connect thread does.
    void fail(size_t index);
    std::vector<Peer*> dialed;
};

// Logs the door, friend and private-message notifications: "friendsChanged",
// "peerConnected <nick>", "peerDisconnected <nick>", "gotFriendDirs <nick>",
// "gotFriendFiles <nick> <dir>", "gotMessage <state> <text>",
// "sessionChanged <state>".
class RecordingTransferUI final : public TransferUI {
public:
    explicit RecordingTransferUI(CallLog* log) : log(log) {}
    void doorFailed(int tcpPort) override;
    void filesRefused(UserMeta* peer) override;
    // Logged as "sharedFileChanged <name>" and "sharedFileRemoved <name>".
    void sharedFileChanged(FileMeta* file) override;
    void sharedFileRemoved(FileMeta* file) override;
    void friendsChanged() override;
    void peerConnected(UserMeta* peer) override;
    void peerDisconnected(UserMeta* peer, uint64_t received, uint64_t sent) override;
    void gotFriendFiles(UserMeta* friendUser, const char* directory) override;
    void gotFriendDirs(UserMeta* friendUser) override;
    void gotMessage(MessageSession* session, const char* text) override;
    void sessionChanged(MessageSession* session) override;
    // Counted, not logged (slots change at every upload).
    void uploadSlotChanged(UploadSlot*) override { slotChanges++; }
    void uploadSlotRemoved(UploadSlot*) override { slotRemovals++; }
    CallLog* log;
    // The session of the last gotMessage or sessionChanged.
    MessageSession* lastSession = nullptr;
    int slotChanges = 0;
    int slotRemovals = 0;
};

// Every fake, installed as the process-wide side while it lives.
struct RecordingSides {
    RecordingSides();
    ~RecordingSides();
    // Every side null again (the destructor does it too).
    void uninstall();
    CallLog log;
    FakeDownloads downloads{&log};
    FakeUploads uploads{&log};
    FakeFriends friends{&log};
    FakeMessages messages{&log};
    FakeShares shares;
    FakeGateway gateway{&log};
    RecordingTransferUI transferUI{&log};
};

}  // namespace support
