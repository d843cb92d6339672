#include "support/peer_fakes.h"

#include <algorithm>

#include "core/meta/file_meta.h"
#include "core/meta/user_meta.h"
#include "transfer/messages/message_session.h"
#include "transfer/peer/peer.h"

namespace support {

std::string bitsOf(const BoolArray& map) {
    std::string out;
    for (unsigned i = 0; i < map.count(); i++) out.push_back(map.get(i) ? '1' : '0');
    return out;
}

void setBits(BoolArray& map, const std::string& bits) {
    map.resize(static_cast<unsigned>(bits.size()));
    for (size_t i = 0; i < bits.size(); i++) map.set(static_cast<unsigned>(i), bits[i] == '1');
}

UniqueID hashOf(uint8_t value) {
    uint8_t bytes[kUniqueIdSize];
    for (uint8_t& byte : bytes) byte = value;
    UniqueID hash;
    hash.copy(bytes);
    return hash;
}

std::string restOf(i4_file* reader) {
    std::string out;
    while (reader->tell() < reader->size()) out.push_back(static_cast<char>(reader->read_8()));
    return out;
}

namespace {
std::string hashText(const UniqueID& hash) { return std::to_string(hash.bytes()[0]); }
}  // namespace

// ---- downloads ----

FakeDownload::FakeDownload(CallLog* log, const UniqueID& hash, uint64_t size) : log(log), hash(hash), size(size) {}

uint32_t FakeDownload::crumbCount() { return static_cast<uint32_t>((size + 486399) / 486400); }

bool FakeDownload::copyPartMap(BoolArray& out) {
    if (!partial) return false;
    out.assign(&parts);
    return true;
}

bool FakeDownload::copyCrumbMap(BoolArray& out) {
    if (!partial) return false;
    out.assign(&crumbs);
    return true;
}

void FakeDownload::dataReceived(i4_file* reader, TCPConnection* connection) {
    lastConnection = connection;
    log->push_back("dataReceived " + restOf(reader));
}

void FakeDownload::noFile(TCPConnection* connection) {
    lastConnection = connection;
    log->push_back("noFile");
}

void FakeDownload::fileStatus(TCPConnection* connection, BoolArray* map) {
    lastConnection = connection;
    log->push_back("fileStatus " + bitsOf(*map));
}

void FakeDownload::fileNameAnswer(const char* name, TCPConnection* connection) {
    lastConnection = connection;
    log->push_back(std::string("fileNameAnswer ") + name);
}

void FakeDownload::partnerAccepted(TCPConnection* connection) {
    lastConnection = connection;
    log->push_back("partnerAccepted");
}

void FakeDownload::partnerRefused(TCPConnection* connection) {
    lastConnection = connection;
    log->push_back("partnerRefused");
}

void FakeDownload::haveNotice(TCPConnection* connection, uint32_t crumb) {
    lastConnection = connection;
    log->push_back("haveNotice " + std::to_string(crumb));
}

bool FakeDownload::setHashSet(i4_file* reader) {
    log->push_back("setHashSet " + restOf(reader));
    return true;
}

bool FakeDownload::setHashSetWithCrumbs(i4_file* reader) {
    log->push_back("setHashSetWithCrumbs " + restOf(reader));
    return true;
}

FakeDownload* FakeDownloads::add(const UniqueID& hash, uint64_t size) {
    downloads.push_back(std::make_unique<FakeDownload>(log, hash, size));
    return downloads.back().get();
}

PeerDownload* FakeDownloads::findDownload(const UniqueID& hash) {
    for (auto& download : downloads) {
        if (download->hash.equals(hash)) {
            download->references++;
            return download.get();
        }
    }
    return nullptr;
}

void FakeDownloads::openSlot(TCPConnection* connection) {
    lastConnection = connection;
    log->push_back("openSlot");
    if (releaseSlotUse) static_cast<Peer*>(connection)->release("FakeDownloads::openSlot");
}

void FakeDownloads::uploadEnded(TCPConnection* connection) {
    lastConnection = connection;
    log->push_back("uploadEnded");
}

void FakeDownloads::placeInQueue(TCPConnection* connection, uint32_t rank) {
    lastConnection = connection;
    log->push_back("placeInQueue " + std::to_string(rank));
}

void FakeDownloads::addSource(const UniqueID& hash, UserMeta* user, TCPConnection* connection) {
    lastConnection = connection;
    log->push_back("addSource " + hashText(hash) + " " + user->nickname());
}

bool FakeDownloads::acceptPartner(TCPConnection* connection, const UniqueID& hash) {
    lastConnection = connection;
    log->push_back("acceptPartner " + hashText(hash));
    return partnerAnswer;
}

bool FakeDownloads::isPartner(TCPConnection* connection) {
    return std::find(partners.begin(), partners.end(), connection) != partners.end();
}

void FakeDownloads::partnerClosed(TCPConnection* connection) {
    lastConnection = connection;
    log->push_back("partnerClosed");
}

// ---- uploads, friends, messages ----

void FakeUploads::partRequest(Peer* peer, const UniqueID& hash, const uint32_t starts[3], const uint32_t ends[3]) {
    lastPeer = peer;
    std::string line = "partRequest " + hashText(hash);
    for (int i = 0; i < 3; i++) line += " " + std::to_string(starts[i]) + "-" + std::to_string(ends[i]);
    log->push_back(line);
}

void FakeUploads::queueRequest(Peer* peer, const UniqueID& hash) {
    lastPeer = peer;
    log->push_back("queueRequest " + hashText(hash));
}

void FakeUploads::peerClosed(Peer* peer) {
    lastPeer = peer;
    log->push_back("uploads.peerClosed");
}

bool FakeFriends::isFriend(const UserMeta* user) {
    log->push_back(std::string("isFriend ") + const_cast<UserMeta*>(user)->nickname());
    return friendAnswer;
}

bool FakeFriends::setViewFlag(const UserMeta*, bool canView) {
    log->push_back(std::string("setViewFlag ") + (canView ? "1" : "0"));
    return friendAnswer;
}

void FakeFriends::gotDirectories(UserMeta*, std::vector<OwnedString> names) {
    std::string line = "gotDirectories";
    for (const OwnedString& name : names) line += std::string(" ") + name.c_str();
    log->push_back(line);
}

void FakeFriends::gotFiles(UserMeta*, const char* directory, std::unique_ptr<FileList> files) {
    std::string line = std::string("gotFiles ") + directory;
    for (int i = 0; i < files->count(); i++) line += std::string(" ") + static_cast<FileMeta*>(files->at(i))->name();
    files->clear();
    log->push_back(line);
}

bool FakeMessages::gotMessage(UserMeta*, const char* text) {
    log->push_back(std::string("gotMessage ") + text);
    return accept;
}

void FakeMessages::notAcceptingCalls(UserMeta*) { log->push_back("notAcceptingCalls"); }

// ---- shares ----

FakeShares::~FakeShares() {
    for (auto& entry : directories) entry.second->unlinkAll();
    shared.clear();
}

FileMeta* FakeShares::share(const UniqueID& hash, uint32_t size, const char* name, const std::string& directory) {
    auto file = new FileMeta();
    file->setFileHash(hash);
    file->setSize(size);
    file->setName(name);
    file->setPath(directory.empty() ? "" : (directory + "/" + name).c_str());
    shared.add(file);
    std::string key = directory.empty() ? "!Incomplete Files" : directory;
    auto& list = directories[key];
    if (!list) {
        list = std::make_unique<FileList>();
        if (!directory.empty()) order.push_back(directory);
    }
    list->add(file);
    return file;
}

FileMeta* FakeShares::sharedFile(const UniqueID& hash) { return shared.findByHash(hash.bytes()); }

std::vector<OwnedString> FakeShares::directoryNames() {
    std::vector<OwnedString> names;
    for (const std::string& name : order) names.emplace_back(name.c_str());
    names.emplace_back("!Incomplete Files");
    return names;
}

FileList* FakeShares::directoryFiles(const char* name) {
    auto at = directories.find(name ? name : "");
    return at == directories.end() ? nullptr : at->second.get();
}

std::vector<UniqueID> FakeShares::sharedHashes() {
    std::vector<UniqueID> hashes;
    for (int i = 0; i < shared.count(); i++) hashes.push_back(static_cast<FileMeta*>(shared.at(i))->fileHash());
    return hashes;
}

// ---- gateway, handlers, dialer, UI ----

bool FakeGateway::askCallback(UserMeta*) {
    log->push_back("askCallback");
    return callbackAnswer;
}

void FakeGateway::publishFile(FileMeta* file) {
    log->push_back(std::string("publish ") + file->name());
    auto* copy = new FileMeta();
    copy->copyFrom(file);
    published.MetaList::add(copy);
}

int FakeGateway::setFirewalled(int verdict) {
    log->push_back("setFirewalled " + std::to_string(verdict));
    return verdict;
}

void RecordingHandler::peerClosed(TCPConnection* connection) {
    seen.push_back(connection);
    log->push_back(name + ".peerClosed");
}

void RecordingHandler::connectFailed(uint32_t ip, uint16_t port) {
    log->push_back(name + ".connectFailed " + std::to_string(ip) + ":" + std::to_string(port));
}

void RecordingHandler::newPeer(TCPConnection* connection) {
    seen.push_back(connection);
    if (keepPeers) static_cast<Peer*>(connection)->addRef("RecordingHandler");
    log->push_back(name + ".newPeer");
}

FakeDialer::~FakeDialer() {
    for (Peer* peer : dialed) delete peer;
}

bool FakeDialer::dial(Peer* peer) {
    dialed.push_back(peer);
    return true;
}

void FakeDialer::fail(size_t index) {
    Peer* peer = dialed.at(index);
    dialed.erase(dialed.begin() + static_cast<long>(index));
    peer->connectFailed();
    delete peer;
}

void RecordingTransferUI::doorFailed(int tcpPort) { log->push_back("doorFailed " + std::to_string(tcpPort)); }

void RecordingTransferUI::filesRefused(UserMeta*) { log->push_back("filesRefused"); }

void RecordingTransferUI::sharedFileChanged(FileMeta* file) {
    log->push_back(std::string("sharedFileChanged ") + file->name());
}

void RecordingTransferUI::sharedFileRemoved(FileMeta* file) {
    log->push_back(std::string("sharedFileRemoved ") + file->name());
}

void RecordingTransferUI::friendsChanged() { log->push_back("friendsChanged"); }

void RecordingTransferUI::peerConnected(UserMeta* peer) {
    log->push_back(std::string("peerConnected ") + (peer ? peer->nickname() : "-"));
}

void RecordingTransferUI::peerDisconnected(UserMeta* peer, uint64_t, uint64_t) {
    log->push_back(std::string("peerDisconnected ") + (peer ? peer->nickname() : "-"));
}

void RecordingTransferUI::gotFriendFiles(UserMeta* friendUser, const char* directory) {
    log->push_back(std::string("gotFriendFiles ") + (friendUser ? friendUser->nickname() : "-") + " " +
                   (directory ? directory : "-"));
}

void RecordingTransferUI::gotFriendDirs(UserMeta* friendUser) {
    log->push_back(std::string("gotFriendDirs ") + (friendUser ? friendUser->nickname() : "-"));
}

void RecordingTransferUI::gotMessage(MessageSession* session, const char* text) {
    lastSession = session;
    log->push_back("gotMessage " + (session ? std::to_string(session->state()) : std::string("-")) + " " +
                   (text ? text : "-"));
}

void RecordingTransferUI::sessionChanged(MessageSession* session) {
    lastSession = session;
    log->push_back("sessionChanged " + (session ? std::to_string(session->state()) : std::string("-")));
}

RecordingSides::RecordingSides() {
    setPeerDownloads(&downloads);
    setPeerUploads(&uploads);
    setPeerFriends(&friends);
    setPeerMessages(&messages);
    setPeerShares(&shares);
    setNetworkGateway(&gateway);
    setCurrentTransferUI(&transferUI);
}

RecordingSides::~RecordingSides() { uninstall(); }

void RecordingSides::uninstall() {
    setPeerDownloads(nullptr);
    setPeerUploads(nullptr);
    setPeerFriends(nullptr);
    setPeerMessages(nullptr);
    setPeerShares(nullptr);
    setNetworkGateway(nullptr);
    setCurrentTransferUI(nullptr);
}

}  // namespace support
