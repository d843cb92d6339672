// Recording fakes of what the download side reaches: connection faces and
// their pool, download sources and their factories, the overlay's source
// search, and the storage services (settings, shared files, uploads).
// Calls are logged as lines of text in a SharedLog (safe from several
// threads: completions run on workers); answers are plain fields a test
// sets before it drives the code.
//
//   support::SharedLog log;
//   support::FakeSourcePeer peer(&log, "p1", ip, 4662);
//   support::FakeFileSource source(&log, "s1", download, &peer);
//   ... EXPECT_EQ(log.take(), (std::vector<std::string>{"s1 pause"}));
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/meta/user_meta.h"
#include "downloads/download_interface.h"
#include "downloads/file_source_interface.h"
#include "downloads/source_factories.h"
#include "downloads/source_peer.h"
#include "downloads/storage/download_services.h"
#include "overlay/gateway/network_gateway.h"
#include "overlay/index/download_sources.h"

namespace support {

// A log of call lines, shared between threads.
class SharedLog {
public:
    void add(const std::string& line);
    std::vector<std::string> lines();
    // lines(), then forgets them.
    std::vector<std::string> take();
    // Lines that begin with prefix.
    std::vector<std::string> starting(const std::string& prefix);
    int count(const std::string& line);

private:
    std::mutex lock_;
    std::vector<std::string> lines_;
};

// A connection face. Uses are counted; sends are logged as "<name> <what>"
// and kept in the outbox for a scripted other side (ScriptedUploader).
class FakeSourcePeer final : public SourcePeer {
public:
    struct Sent {
        std::string what;  // "partRequest", "hashSetRequest", ...
        uint32_t starts[3] = {};
        uint32_t ends[3] = {};
    };

    FakeSourcePeer(SharedLog* log, const std::string& name, uint32_t ip, uint16_t port);

    UserMeta* user() override { return &record; }
    int32_t prValue() override { return pr; }
    double receiveAverage() override { return average; }
    void addRef(const char* tag) override;
    void release(const char* tag) override;
    void setKeep(bool keep) override;
    void sendFileNameRequest(const UniqueID& hash) override;
    void sendHashSetRequest(const UniqueID& hash) override;
    bool sendFileStatusRequest(PeerDownload* download) override;
    void sendPartRequest(PeerDownload* download, const uint32_t starts[3], const uint32_t ends[3]) override;
    void sendUploadRequest(const UniqueID& hash) override;
    void sendPartnerRequest(const UniqueID& hash) override;
    void sendSlotRelease() override;
    TCPConnection* tcpConnection() override { return connection; }

    SharedLog* log;
    std::string name;
    UserMeta record;
    int32_t pr = 1;
    double average = 0.0;
    int uses = 0;
    bool keep = false;
    bool statusAnswer = true;
    // What tcpConnection answers (any distinct pointer; never used).
    TCPConnection* connection = nullptr;
    std::vector<Sent> outbox;

private:
    void send(const std::string& what);
};

// The pool of connection faces.
class FakeSourcePeerPool final : public SourcePeerPool {
public:
    explicit FakeSourcePeerPool(SharedLog* log) : log(log) {}

    int connect(UserMeta* user, SourcePeer** out) override;
    SourcePeer* findByUser(const UserMeta* user) override;
    bool contains(const SourcePeer* peer) override;
    int connectionCount() override { return connections; }
    SourcePeer* peerOf(TCPConnection* connection) override;

    // Lists the peer and makes it the face of its connection.
    void add(FakeSourcePeer* peer);

    SharedLog* log;
    std::vector<FakeSourcePeer*> peers;
    int connectResult = kConnecting;
    FakeSourcePeer* connectTo = nullptr;
    // connect answers kConnected with the listed peer of the user, or
    // kConnecting when none is listed (instead of the two fields above).
    bool connectByUser = false;
    int connections = 0;
};

// A source with scripted answers. Its events are logged as "<name> <event>"
// (connection arguments by the peer's name); the first-source events
// accept when the connection is its own.
class FakeFileSource final : public FileSourceInterface {
public:
    FakeFileSource(SharedLog* log, const std::string& name, DownloadInterface* download, SourcePeer* connection);
    ~FakeFileSource() override;

    double getSpeed() override { return speed; }
    int statusCode() override { return status; }
    const char* userName() override { return nick.c_str(); }
    const char* fileName() override { return file.c_str(); }
    UserMeta* userMeta() override { return &user; }
    uint32_t queuePlace() override { return rank; }
    bool matchesLink(const char* link) override { return link && link == matching; }
    bool isUser(const UserMeta* other) override { return other && user.sameUser(other); }
    void pause() override { note("pause"); }
    void cancel() override { note("cancel"); }
    void downloadComplete() override { note("downloadComplete"); }
    void diskFull() override { note("diskFull"); }
    void shutdown() override { note("shutdown"); }
    void resetRetries() override { note("resetRetries"); }
    void peerClosed(SourcePeer* peer) override { note("peerClosed", peer); }
    bool fileStatus(SourcePeer* peer, BoolArray* map) override;
    bool haveNotice(SourcePeer* peer, uint32_t crumb) override;
    void newPeer(SourcePeer* peer) override { note("newPeer", peer); }
    bool uploadEnded(SourcePeer* peer) override { return own("uploadEnded", peer); }
    void placeInQueue(SourcePeer* peer, uint32_t place) override;
    bool noFile(SourcePeer* peer) override { return own("noFile", peer); }
    bool openSlot(SourcePeer* peer) override { return own("openSlot", peer); }
    void setFileName(const char* text, SourcePeer* peer) override;
    bool connectFailed(uint32_t ip, uint16_t port) override;
    void dataReceived(SourcePeer* peer) override { note("dataReceived", peer); }
    bool tryAsk() override;
    bool requestHashSet() override;
    void getRequests(uint64_t start[3], uint64_t end[3]) override;
    double partnerScore() override { return score; }
    void tryPartner() override { note("tryPartner"); }
    void stopPartner() override { note("stopPartner"); }
    bool partnerAccepted(SourcePeer* peer) override { return own("partnerAccepted", peer); }
    bool partnerRefused(SourcePeer* peer) override { return own("partnerRefused", peer); }
    bool partnerRequested(SourcePeer* peer) override { return own("partnerRequested", peer); }
    bool tick(int elapsedMs) override;
    SourcePeer* connection() override { return peer; }
    DownloadInterface* download() override { return owner; }

    // A request slot [start, end).
    void request(int slot, uint64_t start, uint64_t end);

    SharedLog* log;
    std::string name;
    DownloadInterface* owner;
    SourcePeer* peer;
    UserMeta user;
    std::string nick;
    std::string file;
    std::string matching;
    double speed = 0.0;
    int status = 0;
    uint32_t rank = 0;
    bool askAnswer = false;
    bool hashSetAnswer = false;
    double score = -1.0;
    bool alive = true;
    bool logTicks = false;
    uint64_t starts[3] = {};
    uint64_t ends[3] = {};
    // Set to true by the destructor when given.
    bool* deleted = nullptr;

private:
    void note(const std::string& what, SourcePeer* peer = nullptr);
    bool own(const std::string& what, SourcePeer* peer);
};

// Makes FakeFileSources for users ("<user's nickname or ip:port>") and
// for links ("link <text>"); keeps pointers to what it made (owned by the
// downloads). Installed as both factories while it lives.
class FakeSourceFactories final : public PeerSourceFactory, public LinkSourceFactory {
public:
    explicit FakeSourceFactories(SharedLog* log);
    ~FakeSourceFactories();

    FileSourceInterface* makePeerSource(Download* download, const UserMeta& user, SourcePeer* connection) override;
    FileSourceInterface* makeLinkSource(DownloadInterface* download, const char* link) override;

    SharedLog* log;
    std::vector<FakeFileSource*> made;
    // Link texts that get a source (others: null).
    std::vector<std::string> linksTaken;
};

// The overlay's search for one download; logs "search", "reset" and, when
// logTicks is set, "tick <ms>".
class FakeDownloadSources final : public DownloadSources {
public:
    explicit FakeDownloadSources(SharedLog* log) : log(log) {}
    void search(const UniqueID& fileHash) override;
    void tick(int elapsedMs) override;
    void reset() override;
    SharedLog* log;
    bool logTicks = false;
};

// An overlay gateway that makes FakeDownloadSources. Installed while it
// lives.
class SourcesGateway final : public NetworkGateway {
public:
    explicit SourcesGateway(SharedLog* log);
    ~SourcesGateway();
    void start() override {}
    void stop() override {}
    DownloadSources* newDownloadSources() override { return new FakeDownloadSources(log); }
    int firewallStatus() override { return kOpen; }
    SharedLog* log;

private:
    NetworkGateway* previous_;
};

// Transfer settings with a scripted free space per directory.
class FakeDownloadSettings final : public DownloadSettings {
public:
    OwnedString tempDir() const override;
    OwnedString incomingDir() const override;
    bool saveCorrupt() const override;
    uint64_t reserveBytes() const override;
    uint64_t freeSpace(const char* path, bool* queried) const override;

    void set(const std::string& tempPath, const std::string& incomingPath);
    void setSaveCorrupt(bool keep);
    void setReserve(uint64_t bytes);
    // Free space of a directory; one never set answers plenty.
    void setFree(const std::string& path, uint64_t bytes, bool queried = true);

private:
    mutable std::mutex lock_;
    std::string temp_, incoming_;
    bool saveCorrupt_ = false;
    uint64_t reserve_ = kDefaultReserveBytes;
    std::map<std::string, std::pair<uint64_t, bool>> free_;
};

// The shared-file list: keeps copies; "contains" answers from what it
// keeps and from hashes a test adds.
class FakeSharedFiles final : public SharedFilesSink {
public:
    explicit FakeSharedFiles(SharedLog* log) : log(log) {}
    void addSharedFile(FileMeta* copy) override;
    void removeSharedFile(const FileMeta& record) override;
    bool finalPlace(const UniqueID& hash, const char* path, uint32_t modificationTime) override;
    bool contains(const UniqueID& hash) override;

    void addHash(const UniqueID& hash);
    std::string finalPath(const UniqueID& hash);

    SharedLog* log;

private:
    std::mutex lock_;
    std::vector<UniqueID> hashes_;
    std::map<std::string, std::string> final_;
};

// The uploads side: logs "pauseFile <0|1>", "removePriorityUser <nick>";
// counts have-notices.
class FakeUploadSide final : public UploadSide {
public:
    explicit FakeUploadSide(SharedLog* log) : log(log) {}
    void sendHaveNotice(const UniqueID& hash, uint32_t crumb) override;
    void pauseFile(const UniqueID& hash, bool pause) override;
    void removePriorityUser(const UserMeta& user) override;
    int notices();

    SharedLog* log;

private:
    std::mutex lock_;
    int notices_ = 0;
};

}  // namespace support
