#include "downloads/sources/file_source.h"

#include "core/ui/ui_gateway.h"
#include "downloads/pool/download.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/source_peer.h"
#include "downloads/sources/connecting_states.h"
#include "downloads/sources/file_source_state.h"

FileSource::FileSource(const UserMeta& user, Download* download, SourcePeer* connection)
    : user_(user), partMap_(download ? download->crumbCount() : 0), connection_(connection), download_(download) {
    state_ = std::make_unique<FSS_Unasked>(this);
    if (connection_ == nullptr) {
        if (SourcePeerPool* pool = sourcePeerPool()) connection_ = pool->findByUser(&user_);
    }
    if (connection_ != nullptr) {
        user_.assign(connection_->user());
        if (fileName_.isEmpty()) connection_->sendFileNameRequest(download_->fileHash());
        askHashSetOnce();
    }
    if (partMap_.count() == 1) {
        // A file of one crumb: whoever has it has all of it.
        BoolArray whole(1);
        whole.setAll(true);
        fileStatus(connection, &whole);
    } else {
        mapFresh_ = false;
    }
}

FileSource::~FileSource() {
    if (PartnerManager* partners = PartnerManager::instance()) partners->removePartner(this);
    std::unique_ptr<FileSourceState> state = std::move(state_);
    state.reset();
    pending_.reset();
    if (download_) download_->changeWeight(&partMap_, -1);
    releaseRequests();
}

DownloadInterface* FileSource::download() { return download_; }

void FileSource::setState(std::unique_ptr<FileSourceState> next) {
    pending_ = std::move(next);
    if (depth_ == 0) settle();
}

void FileSource::afterwards(std::function<void()> step) {
    if (pending_) {
        afterwards_.push_back(std::move(step));
    } else {
        step();
    }
}

void FileSource::settle() {
    if (!pending_) return;
    std::vector<std::function<void()>> steps = std::move(afterwards_);
    afterwards_.clear();
    std::unique_ptr<FileSourceState> old = std::exchange(state_, std::move(pending_));
    old.reset();
    {
        Event entering(this);
        state_->enter();
    }
    for (std::function<void()>& step : steps) step();
}

// --- reading ------------------------------------------------------------------

double FileSource::getSpeed() { return state_->getSpeed(); }

int FileSource::statusCode() { return state_->statusCode(); }

const char* FileSource::userName() { return user_.nickname(); }

bool FileSource::isUser(const UserMeta* user) { return user != nullptr && user_.sameUser(user); }

// --- commands ------------------------------------------------------------------

void FileSource::pause() {
    Event event(this);
    state_->pause();
}

void FileSource::cancel() {
    Event event(this);
    state_->cancel();
}

void FileSource::downloadComplete() {
    Event event(this);
    state_->downloadComplete();
}

void FileSource::diskFull() {
    Event event(this);
    state_->diskFull();
}

void FileSource::shutdown() {
    Event event(this);
    state_->shutdown();
}

void FileSource::resetRetries() {
    Event event(this);
    state_->resetRetries();
}

// --- peer events -------------------------------------------------------------------

void FileSource::peerClosed(SourcePeer* connection) {
    if (connection == nullptr || !own(connection)) return;
    {
        Event event(this);
        state_->peerClosed();
    }
    connection_ = nullptr;
    hashSetAsked_ = false;
}

bool FileSource::fileStatus(SourcePeer* connection, BoolArray* map) {
    if (!own(connection) || map == nullptr) return false;
    if (map->count() != partMap_.count()) {
        // Choosing ranges from it would read past the file's crumbs.
        if (UIGateway* ui = currentUI()) {
            ui->debug("File status of %u crumbs from %s ignored (the file has %u)\n", map->count(),
                      user_.nickname(), partMap_.count());
        }
        return true;
    }
    mapAge_ = 0;
    mapFresh_ = true;
    if (download_) download_->changeCrumbs(&partMap_, map, state_->weight());
    partMap_.assign(map);
    {
        Event event(this);
        state_->partMapChanged();
    }
    if (download_) download_->lastSeenComplete();
    return true;
}

bool FileSource::haveNotice(SourcePeer* connection, uint32_t crumb) {
    if (!own(connection)) return false;
    if (crumb >= partMap_.count()) return true;
    int32_t weight = state_->weight();
    download_->changeWeight(&partMap_, -weight);
    partMap_.set(crumb, true);
    download_->changeWeight(&partMap_, weight);
    Event event(this);
    state_->partMapChanged();
    return true;
}

void FileSource::adopt(SourcePeer* connection) {
    connection_ = connection;
    retries_ = 0;
    mapFresh_ = false;
    mapAge_ = 0;
    hashSetAsked_ = false;
    user_.assign(connection->user());
    if (fileName_.isEmpty()) connection->sendFileNameRequest(download_->fileHash());
}

void FileSource::askHashSetOnce() {
    if (connection_ == nullptr || hashSetAsked_ || download_ == nullptr) return;
    PartialFile* partial = download_->partialFile();
    if (partial == nullptr || partial->hashSetKnown()) return;
    hashSetAsked_ = true;
    connection_->sendHashSetRequest(download_->fileHash());
}

void FileSource::newPeer(SourcePeer* connection) {
    if (connection == nullptr) return;
    if (connection_ == nullptr) {
        if (!user_.sameUser(connection->user())) return;
        adopt(connection);
    } else if (!own(connection)) {
        return;
    }
    askHashSetOnce();
    Event event(this);
    state_->newPeer(connection);
}

bool FileSource::uploadEnded(SourcePeer* connection) {
    Event event(this);
    return state_->uploadEnded(connection);
}

void FileSource::placeInQueue(SourcePeer* connection, uint32_t rank) {
    if (connection == nullptr) return;
    Event event(this);
    state_->placeInQueue(connection, rank);
}

bool FileSource::noFile(SourcePeer* connection) {
    Event event(this);
    return state_->noFile(connection);
}

bool FileSource::openSlot(SourcePeer* connection) {
    if (connection == nullptr || !own(connection)) return false;
    Event event(this);
    return state_->openSlot();
}

void FileSource::setFileName(const char* name, SourcePeer* connection) {
    if (connection == nullptr || !user_.sameUser(connection->user())) return;
    fileName_ = name;
}

bool FileSource::connectFailed(uint32_t ip, uint16_t port) {
    Event event(this);
    return state_->connectFailed(ip, port);
}

void FileSource::dataReceived(SourcePeer* connection) {
    Event event(this);
    state_->dataReceived(connection);
}

// --- work ----------------------------------------------------------------------------

bool FileSource::tryAsk() {
    Event event(this);
    return state_->tryAsk();
}

bool FileSource::requestHashSet() {
    if (connection_ == nullptr) return false;
    connection_->sendHashSetRequest(download_->fileHash());
    return true;
}

void FileSource::getRequests(uint64_t start[3], uint64_t end[3]) {
    for (int i = 0; i < kRequestSlots; i++) {
        start[i] = starts_[i];
        end[i] = ends_[i];
    }
}

void FileSource::requestChunks() {
    Event event(this);
    state_->requestChunks();
}

void FileSource::dropRequest(int index) {
    if (index < 0 || index >= kRequestSlots) return;
    if (ends_[index] != 0) download_->returnRange(starts_[index], ends_[index]);
    setRequest(index, 0, 0);
    for (int j = kRequestSlots - 2; j >= 0; j--) {
        if (ends_[j] != 0 || ends_[j + 1] == 0) continue;
        setRequest(j, starts_[j + 1], ends_[j + 1]);
        setRequest(j + 1, 0, 0);
    }
}

void FileSource::releaseRequests() {
    for (int i = 0; i < kRequestSlots; i++) {
        if (ends_[i] != 0 && download_) download_->returnRange(starts_[i], ends_[i]);
        setRequest(i, 0, 0);
    }
}

void FileSource::assumeComplete() {
    mapAge_ = 0;
    mapFresh_ = true;
    BoolArray whole(partMap_.count());
    whole.setAll(true);
    download_->changeCrumbs(&partMap_, &whole, state_->weight());
    partMap_.setAll(true);
}

// --- partners ----------------------------------------------------------------------------

double FileSource::partnerScore() {
    Event event(this);
    return state_->partnerScore();
}

void FileSource::tryPartner() {
    Event event(this);
    state_->tryPartner();
}

void FileSource::stopPartner() {
    Event event(this);
    state_->stopPartner();
}

bool FileSource::partnerAccepted(SourcePeer* connection) {
    Event event(this);
    return state_->partnerAccepted(connection);
}

bool FileSource::partnerRefused(SourcePeer* connection) {
    Event event(this);
    return state_->partnerRefused(connection);
}

bool FileSource::partnerRequested(SourcePeer* connection) {
    Event event(this);
    return state_->partnerRequested(connection);
}

// --- time -------------------------------------------------------------------------------------

bool FileSource::tick(int elapsedMs) {
    if (elapsedMs < 0) elapsedMs = 0;
    if (partnerCooldown_ > 0) {
        int64_t cooldown = static_cast<int64_t>(partnerCooldown_) + elapsedMs;
        partnerCooldown_ = cooldown > kPartnerCooldownMs ? 0 : static_cast<int32_t>(cooldown);
    }
    int64_t age = static_cast<int64_t>(mapAge_) + elapsedMs;
    if (age > kMapFreshMs) {
        mapAge_ = 0;
        mapFresh_ = false;
    } else {
        mapAge_ = static_cast<int32_t>(age);
    }
    Event event(this);
    return state_->tick(elapsedMs);
}
