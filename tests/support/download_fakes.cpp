#include "support/download_fakes.h"

#include <algorithm>

#include "core/meta/file_meta.h"
#include "core/net/ip_text.h"
#include "downloads/pool/download.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/memory/malloc4.h"

namespace support {

// --- SharedLog -------------------------------------------------------------------

void SharedLog::add(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock_);
    lines_.push_back(line);
}

std::vector<std::string> SharedLog::lines() {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

std::vector<std::string> SharedLog::take() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> out;
    out.swap(lines_);
    return out;
}

std::vector<std::string> SharedLog::starting(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : lines()) {
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    }
    return out;
}

int SharedLog::count(const std::string& line) {
    std::vector<std::string> all = lines();
    return static_cast<int>(std::count(all.begin(), all.end(), line));
}

// --- FakeSourcePeer -------------------------------------------------------------------

FakeSourcePeer::FakeSourcePeer(SharedLog* log, const std::string& name, uint32_t ip, uint16_t port)
    : log(log), name(name) {
    record.setIp(ip);
    record.setPort(port);
    record.setNickname(name.c_str());
}

void FakeSourcePeer::addRef(const char* tag) {
    uses++;
    log->add(name + " addRef " + tag);
}

void FakeSourcePeer::release(const char* tag) {
    uses--;
    log->add(name + " release " + tag);
}

void FakeSourcePeer::setKeep(bool on) {
    keep = on;
    log->add(name + (on ? " keep" : " unkeep"));
}

void FakeSourcePeer::send(const std::string& what) {
    log->add(name + " " + what);
    outbox.push_back(Sent{what});
}

void FakeSourcePeer::sendFileNameRequest(const UniqueID&) { send("fileNameRequest"); }

void FakeSourcePeer::sendHashSetRequest(const UniqueID&) { send("hashSetRequest"); }

bool FakeSourcePeer::sendFileStatusRequest(PeerDownload*) {
    send("fileStatusRequest");
    return statusAnswer;
}

void FakeSourcePeer::sendPartRequest(PeerDownload*, const uint32_t starts[3], const uint32_t ends[3]) {
    std::string line = name + " partRequest";
    Sent sent{"partRequest"};
    for (int i = 0; i < 3; i++) {
        line += " " + std::to_string(starts[i]) + "-" + std::to_string(ends[i]);
        sent.starts[i] = starts[i];
        sent.ends[i] = ends[i];
    }
    log->add(line);
    outbox.push_back(sent);
}

void FakeSourcePeer::sendUploadRequest(const UniqueID&) { send("uploadRequest"); }

void FakeSourcePeer::sendPartnerRequest(const UniqueID&) { send("partnerRequest"); }

void FakeSourcePeer::sendSlotRelease() { send("slotRelease"); }

// --- FakeSourcePeerPool ---------------------------------------------------------------

int FakeSourcePeerPool::connect(UserMeta* user, SourcePeer** out) {
    if (connectByUser) {
        SourcePeer* found = findByUser(user);
        int result = found ? kConnected : kConnecting;
        log->add("connect " + std::to_string(result));
        if (out) *out = found;
        return result;
    }
    log->add("connect " + std::to_string(connectResult));
    if (out) *out = connectResult == kConnected ? connectTo : nullptr;
    return connectResult;
}

SourcePeer* FakeSourcePeerPool::findByUser(const UserMeta* user) {
    for (FakeSourcePeer* peer : peers) {
        if (user && peer->record.sameUser(user)) return peer;
    }
    return nullptr;
}

bool FakeSourcePeerPool::contains(const SourcePeer* peer) {
    return std::find(peers.begin(), peers.end(), peer) != peers.end();
}

SourcePeer* FakeSourcePeerPool::peerOf(TCPConnection* connection) {
    for (FakeSourcePeer* peer : peers) {
        if (connection && peer->connection == connection) return peer;
    }
    return nullptr;
}

void FakeSourcePeerPool::add(FakeSourcePeer* peer) {
    peers.push_back(peer);
    // A distinct pointer per peer stands for its connection; never read.
    if (peer->connection == nullptr) peer->connection = reinterpret_cast<TCPConnection*>(peer);
}

// --- FakeFileSource ---------------------------------------------------------------------

FakeFileSource::FakeFileSource(SharedLog* log, const std::string& name, DownloadInterface* download,
                               SourcePeer* connection)
    : log(log), name(name), owner(download), peer(connection), nick(name) {
    user.setNickname(name.c_str());
}

FakeFileSource::~FakeFileSource() {
    log->add(name + " deleted");
    if (deleted) *deleted = true;
}

void FakeFileSource::note(const std::string& what, SourcePeer* other) {
    std::string line = name + " " + what;
    if (auto* fake = dynamic_cast<FakeSourcePeer*>(other)) line += " " + fake->name;
    log->add(line);
}

bool FakeFileSource::own(const std::string& what, SourcePeer* other) {
    note(what, other);
    return other != nullptr && other == peer;
}

bool FakeFileSource::fileStatus(SourcePeer* other, BoolArray*) { return own("fileStatus", other); }

bool FakeFileSource::haveNotice(SourcePeer* other, uint32_t crumb) {
    return own("haveNotice " + std::to_string(crumb), other);
}

void FakeFileSource::placeInQueue(SourcePeer* other, uint32_t place) {
    note("placeInQueue " + std::to_string(place), other);
}

void FakeFileSource::setFileName(const char* text, SourcePeer* other) {
    note(std::string("setFileName ") + (text ? text : ""), other);
}

bool FakeFileSource::connectFailed(uint32_t ip, uint16_t port) {
    OwnedString address;
    note("connectFailed " + std::string(ipToText(ip, address)) + ":" + std::to_string(port));
    return false;
}

bool FakeFileSource::tryAsk() {
    note("tryAsk");
    return askAnswer;
}

bool FakeFileSource::requestHashSet() {
    note("requestHashSet");
    return hashSetAnswer;
}

void FakeFileSource::getRequests(uint64_t start[3], uint64_t end[3]) {
    for (int i = 0; i < 3; i++) {
        start[i] = starts[i];
        end[i] = ends[i];
    }
}

bool FakeFileSource::tick(int elapsedMs) {
    if (logTicks) note("tick " + std::to_string(elapsedMs));
    return alive;
}

void FakeFileSource::request(int slot, uint64_t start, uint64_t end) {
    starts[slot] = start;
    ends[slot] = end;
}

// --- FakeSourceFactories ------------------------------------------------------------------

FakeSourceFactories::FakeSourceFactories(SharedLog* log) : log(log) {
    setPeerSourceFactory(this);
    setLinkSourceFactory(this);
}

FakeSourceFactories::~FakeSourceFactories() {
    setPeerSourceFactory(nullptr);
    setLinkSourceFactory(nullptr);
}

FileSourceInterface* FakeSourceFactories::makePeerSource(Download* download, const UserMeta& user,
                                                         SourcePeer* connection) {
    OwnedString address;
    UserMeta copy(user);
    std::string name = copy.findSpecial(1) ? copy.nickname()
                                           : std::string(ipToText(user.isLowId() ? user.buddyIp() : user.ip(), address)) +
                                                 ":" + std::to_string(user.isLowId() ? user.buddyPort() : user.port());
    auto* source = new FakeFileSource(log, name, static_cast<DownloadInterface*>(download), connection);
    source->user = copy;
    log->add("made " + name);
    made.push_back(source);
    return source;
}

FileSourceInterface* FakeSourceFactories::makeLinkSource(DownloadInterface* download, const char* link) {
    std::string text = link ? link : "";
    if (std::find(linksTaken.begin(), linksTaken.end(), text) == linksTaken.end()) return nullptr;
    auto* source = new FakeFileSource(log, "link " + text, download, nullptr);
    source->matching = text;
    log->add("made link " + text);
    made.push_back(source);
    return source;
}

// --- overlay fakes ------------------------------------------------------------------------------

void FakeDownloadSources::search(const UniqueID&) { log->add("search"); }

void FakeDownloadSources::tick(int elapsedMs) {
    if (logTicks) log->add("sources tick " + std::to_string(elapsedMs));
}

void FakeDownloadSources::reset() { log->add("reset"); }

SourcesGateway::SourcesGateway(SharedLog* log) : log(log) { previous_ = setNetworkGateway(this); }

SourcesGateway::~SourcesGateway() { setNetworkGateway(previous_); }

// --- storage services ------------------------------------------------------------------------------

OwnedString FakeDownloadSettings::tempDir() const {
    std::lock_guard<std::mutex> guard(lock_);
    return OwnedString(temp_.c_str());
}

OwnedString FakeDownloadSettings::incomingDir() const {
    std::lock_guard<std::mutex> guard(lock_);
    return OwnedString(incoming_.c_str());
}

bool FakeDownloadSettings::saveCorrupt() const {
    std::lock_guard<std::mutex> guard(lock_);
    return saveCorrupt_;
}

uint64_t FakeDownloadSettings::reserveBytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return reserve_;
}

uint64_t FakeDownloadSettings::freeSpace(const char* path, bool* queried) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = free_.find(path ? path : "");
    if (found == free_.end()) {
        if (queried) *queried = true;
        return 1ull << 50;
    }
    if (queried) *queried = found->second.second;
    return found->second.first;
}

void FakeDownloadSettings::set(const std::string& tempPath, const std::string& incomingPath) {
    std::lock_guard<std::mutex> guard(lock_);
    temp_ = tempPath;
    incoming_ = incomingPath;
}

void FakeDownloadSettings::setSaveCorrupt(bool keep) {
    std::lock_guard<std::mutex> guard(lock_);
    saveCorrupt_ = keep;
}

void FakeDownloadSettings::setReserve(uint64_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    reserve_ = bytes;
}

void FakeDownloadSettings::setFree(const std::string& path, uint64_t bytes, bool queried) {
    std::lock_guard<std::mutex> guard(lock_);
    free_[path] = {bytes, queried};
}

void FakeSharedFiles::addSharedFile(FileMeta* copy) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        hashes_.push_back(copy->fileHash());
    }
    log->add(std::string("shared ") + copy->name());
    delete copy;
}

void FakeSharedFiles::removeSharedFile(const FileMeta& record) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto gone = std::remove_if(hashes_.begin(), hashes_.end(),
                                   [&record](const UniqueID& hash) { return hash.equals(record.fileHash()); });
        hashes_.erase(gone, hashes_.end());
    }
    log->add("unshared");
}

bool FakeSharedFiles::finalPlace(const UniqueID& hash, const char* path, uint32_t) {
    std::lock_guard<std::mutex> guard(lock_);
    bool found = std::any_of(hashes_.begin(), hashes_.end(), [&hash](const UniqueID& h) { return h.equals(hash); });
    if (found) {
        char* text = hash.toHex();
        final_[text] = path ? path : "";
        i4_free(text);
    }
    return found;
}

bool FakeSharedFiles::contains(const UniqueID& hash) {
    std::lock_guard<std::mutex> guard(lock_);
    return std::any_of(hashes_.begin(), hashes_.end(), [&hash](const UniqueID& h) { return h.equals(hash); });
}

void FakeSharedFiles::addHash(const UniqueID& hash) {
    std::lock_guard<std::mutex> guard(lock_);
    hashes_.push_back(hash);
}

std::string FakeSharedFiles::finalPath(const UniqueID& hash) {
    std::lock_guard<std::mutex> guard(lock_);
    char* text = hash.toHex();
    auto found = final_.find(text);
    i4_free(text);
    return found == final_.end() ? std::string() : found->second;
}

void FakeUploadSide::sendHaveNotice(const UniqueID&, uint32_t) {
    std::lock_guard<std::mutex> guard(lock_);
    notices_++;
}

void FakeUploadSide::pauseFile(const UniqueID&, bool pause) { log->add(pause ? "pauseFile 1" : "pauseFile 0"); }

void FakeUploadSide::removePriorityUser(const UserMeta& user) {
    UserMeta copy(user);
    log->add(std::string("removePriorityUser ") + copy.nickname());
}

int FakeUploadSide::notices() {
    std::lock_guard<std::mutex> guard(lock_);
    return notices_;
}

}  // namespace support
