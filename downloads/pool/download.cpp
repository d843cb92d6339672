#include "downloads/pool/download.h"

#include <algorithm>
#include <memory>

#include "core/bus/message_q.h"
#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "core/meta/user_meta.h"
#include "core/options/core_options.h"
#include "core/strings/string_table.h"
#include "core/ui/transfer_ui.h"
#include "core/ui/ui_gateway.h"
#include "downloads/file_source_interface.h"
#include "downloads/loaded_parts_verifier.h"
#include "downloads/pool/complete_file_thread.h"
#include "downloads/pool/data_message.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download_states.h"
#include "downloads/pool/downloading_state.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/source_factories.h"
#include "downloads/source_link.h"
#include "downloads/source_peer.h"
#include "downloads/storage/comp_partial_file.h"
#include "downloads/storage/download_services.h"
#include "overlay/gateway/network_gateway.h"
#include "overlay/index/download_sources.h"
#include "v4ada/containers/list_iterator.h"
#include "v4ada/file/fs_paths.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/time/random.h"

namespace {

// A loaded partial file's re-verification on the verifier's thread: the
// job holds a reference on the download and on the partial file.
class LoadedDownloadParts final : public LoadedParts {
public:
    LoadedDownloadParts(Download* download, PartialFile* partial) : download_(download), partial_(partial) {
        download_->addRef();
        partial_->addRef();
    }
    bool verify() override { return partial_->verify(); }
    void hashDone(bool verified) override { download_->hashDone(verified); }
    void release() override {
        partial_->release();
        download_->release();
        delete this;
    }

private:
    ~LoadedDownloadParts() = default;

    Download* download_;
    PartialFile* partial_;
};

FileSourceInterface* sourceOf(void* element) { return static_cast<FileSourceInterface*>(element); }

void deleteSource(FileSourceInterface* source) {
    if (PartnerManager* partners = PartnerManager::instance()) partners->removePartner(source);
    delete source;
}

}  // namespace

Download::Download() : state_(nullptr) {
    state_ = new DLS_Queued(this);
    lock_.signal();
    if (NetworkGateway* gateway = networkGateway()) search_ = gateway->newDownloadSources();
}

Download::~Download() {
    detachSourcesLocked();
    delete state_;
    state_ = nullptr;
    if (partial_) partial_->release();
}

// --- the lock ------------------------------------------------------------------

bool Download::lock(int ms) { return lock_.wait(ms); }

void Download::unlock() { lock_.signal(); }

void Download::setState(DownloadState* state) {
    DownloadState* old = state_;
    state_ = state;
    delete old;
}

bool Download::saveRecord(bool wait) { return partial_ != nullptr && ready_ && partial_->save(wait); }

bool Download::isPaused() const { return state_ != nullptr && state_->isPaused(); }

// --- creation ----------------------------------------------------------------------

PartialFile* Download::makePartialFile(bool partDirectories) {
    PartialFile* file = partDirectories ? new CompPartialFile(this) : new PartialFile(this);
    file->addRef();
    return file;
}

bool Download::createNew(FileMeta* record) {
    if (record == nullptr) return false;
    bool created;
    {
        LockGuard guard(this);
        hash_ = record->fileHash();
        OwnedString name(record->name());
        fs_safe_dot_name(name);
        record->setName(name.c_str());
        record->removeSpecial(ST_AVAILABILITY);
        CoreOptions* options = coreOptions();
        bool single = options != nullptr && options->partStyle();
        if (partial_) partial_->release();
        partial_ = makePartialFile(!single);
        created = partial_->create(record);
        ready_ = created;
        saveRecord();
    }
    if (!created) {
        if (UIGateway* ui = currentUI()) ui->print("%s", uiString(STRINGS_COULDNT_CREATE_TEMP_FILE));
        return false;
    }
    if (TransferUI* ui = currentTransferUI()) ui->downloadAdded(this);
    return true;
}

void Download::loadOld(FileMeta* record, uint32_t number) {
    if (record == nullptr) return;
    LoadedDownloadParts* check = nullptr;
    {
        LockGuard guard(this);
        hash_ = record->fileHash();
        if (partial_) partial_->release();
        partial_ = makePartialFile(number != 0);
        int32_t priority = record->getSpecialInt(ST_DOWNLOAD_PRIORITY);
        setPriority(priority >= kLow && priority <= kHighest ? priority : kLow);
        bool paused = record->getSpecialInt(ST_STATE) != 0;
        while (record->findSpecial(ST_DOWNLOAD_PRIORITY)) record->removeSpecial(ST_DOWNLOAD_PRIORITY);
        while (record->findSpecial(ST_STATE)) record->removeSpecial(ST_STATE);
        ready_ = partial_->load(record, number);
        if (ready_) {
            if (paused) {
                setState(new DLS_PausedHashing(this));
            } else {
                setState(new DLS_Hashing(this));
            }
            check = new LoadedDownloadParts(this, partial_);
        } else {
            setState(new DLS_ErrorLoading(this));
        }
    }
    if (check) {
        if (LoadedPartsVerifier* verifier = loadedPartsVerifier()) {
            verifier->queueFinished(check);
        } else {
            // No hashing thread: the check runs here.
            check->hashDone(check->verify());
            check->release();
        }
    }
    if (TransferUI* ui = currentTransferUI()) ui->downloadAdded(this);
}

// --- DownloadInterface ------------------------------------------------------------------

void Download::addSourceLink(const char* link) {
    if (link == nullptr) return;
    LockGuard guard(this);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) {
        if (sourceOf(element)->matchesLink(link)) {
            sourceOf(element)->resetRetries();
            return;
        }
    }
    UserMeta user;
    if (parseSourceLinkText(link, user)) {
        addSourceLocked(&user, nullptr);
        return;
    }
    LinkSourceFactory* factory = linkSourceFactory();
    FileSourceInterface* source = factory ? factory->makeLinkSource(this, link) : nullptr;
    if (source) addNewSource(source);
}

OwnedString Download::name() {
    if (partial_ == nullptr) return OwnedString(static_cast<const char*>(nullptr));
    return partial_->name();
}

uint64_t Download::size() { return partial_ ? partial_->size() : 0; }

uint32_t Download::crumbCount() { return partial_ ? partial_->crumbCount() : 0; }

void Download::changeWeight(const BoolArray* map, int32_t delta) { progress_.changeWeight(map, delta); }

void Download::changeCrumbs(const BoolArray* oldMap, const BoolArray* newMap, int32_t delta) {
    if (oldMap == nullptr || newMap == nullptr) return;
    progress_.changeCrumbs(oldMap, newMap, delta);
}

void Download::returnCrumb(uint32_t crumb) {
    if (crumb >= crumbCount()) return;
    uint64_t start = static_cast<uint64_t>(crumb) * kCrumbSize;
    progress_.returnRange(start, std::min(start + kCrumbSize, size()));
}

void Download::returnRange(uint64_t start, uint64_t end) {
    if (start >= end || end > size()) return;
    progress_.returnRange(start, end);
}

bool Download::pickRange(const BoolArray* map, uint64_t* start, uint64_t* end) {
    if (map == nullptr || start == nullptr || end == nullptr) return false;
    return progress_.pickRange(map, start, end, 0);
}

bool Download::pickPartRange(uint64_t* start, uint64_t* end) {
    if (start == nullptr || end == nullptr) return false;
    return progress_.pickPartRange(start, end);
}

void Download::writeData(const uint8_t* bytes, uint64_t start, uint64_t end) {
    if (bytes == nullptr || partial_ == nullptr || start >= end || end > partial_->size()) return;
    i4_ram_file_class reader(const_cast<uint8_t*>(bytes), end - start, 0);
    WriteResult result = partial_->write(&reader, start, end);
    activity_.store(true, std::memory_order_relaxed);
    if (result == WriteResult::kWriteFailed) askDiskCheck();
    if (result == WriteResult::kComplete) complete();
}

// --- sources -------------------------------------------------------------------------

void Download::addNewSource(FileSourceInterface* source) {
    // A random place keeps the list in random order, as a shuffle would.
    int count = sources_.count();
    sources_.insertAt(count > 0 ? random_below(count + 1) : 0, source);
}

void Download::addSourceLocked(UserMeta* user, SourcePeer* connection) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) {
        if (sourceOf(element)->isUser(user)) {
            sourceOf(element)->resetRetries();
            return;
        }
    }
    PeerSourceFactory* factory = peerSourceFactory();
    FileSourceInterface* source = factory ? factory->makePeerSource(this, *user, connection) : nullptr;
    if (source) addNewSource(source);
}

void Download::addSource(UserMeta* user, SourcePeer* connection) {
    if (user == nullptr) return;
    LockGuard guard(this);
    addSourceLocked(user, connection);
}

FileSourceInterface* Download::parseSourceLink(const char* text) {
    UserMeta user;
    if (!parseSourceLinkText(text, user)) return nullptr;
    PeerSourceFactory* factory = peerSourceFactory();
    return factory ? factory->makePeerSource(this, user, nullptr) : nullptr;
}

void Download::detachSourcesLocked() {
    while (void* element = sources_.removeAt(0)) deleteSource(sourceOf(element));
    delete search_;
    search_ = nullptr;
}

void Download::detachSources() {
    LockGuard guard(this);
    detachSourcesLocked();
}

// --- events and commands -----------------------------------------------------------------

void Download::askDiskCheck() {
    if (diskCheckAsked_) return;
    diskCheckAsked_ = true;
    if (messageQ) messageQ->post(MSG_CHECK_DISK_SPACE, nullptr);
}

void Download::applyHashDone() {
    int verdict = hashVerdict_.exchange(0);
    if (verdict == 0) return;
    state_->hashDone(verdict == 1);
    if (partial_) hash_ = partial_->fileHash();
}

bool Download::tick(int elapsedMs) {
    LockGuard guard(this);
    bool work = activity_.exchange(false, std::memory_order_relaxed);
    if (partial_ && partial_->applyResults()) {
        work = true;
        // The record keeps a verified part at once (in the background): a
        // crash must not cost it, and the pool saves only every five minutes.
        if (partial_->takePartVerified()) saveRecord();
    }
    applyHashDone();
    if (resumeUploads_.exchange(false)) {
        if (UploadSide* uploads = downloadServices().uploads) uploads->pauseFile(hash_, false);
    }
    ListIterator walk(&sources_);
    while (void* element = walk.next()) {
        FileSourceInterface* source = sourceOf(element);
        if (source->tick(elapsedMs)) continue;
        walk.removeCurrent();
        deleteSource(source);
    }
    if (search_) search_->tick(elapsedMs);
    state_->tick(elapsedMs);
    return work;
}

void Download::pause() {
    LockGuard guard(this);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) sourceOf(element)->pause();
    state_->pause();
}

void Download::resume() {
    {
        LockGuard guard(this);
        state_->resume();
    }
    if (DLPool* pool = DLPool::instance()) pool->reschedule();
}

void Download::cancel() {
    LockGuard guard(this);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) sourceOf(element)->cancel();
    state_->cancel();
}

void Download::shutdown() {
    LockGuard guard(this);
    lastSeenComplete();
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) sourceOf(element)->shutdown();
    if (partial_ && ready_) {
        partial_->close();
        saveRecord(true);
    }
}

void Download::diskFull() {
    LockGuard guard(this);
    diskCheckAsked_ = false;
    state_->diskFull();
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) sourceOf(element)->diskFull();
}

void Download::diskOk() {
    LockGuard guard(this);
    diskCheckAsked_ = false;
    state_->diskOk();
}

bool Download::becomeHighest() {
    LockGuard guard(this);
    return state_->becomeHighest();
}

bool Download::openSlot(SourcePeer* connection) {
    LockGuard guard(this);
    return state_->openSlot(connection);
}

void Download::connectFailed(uint32_t ip, uint16_t port) {
    LockGuard guard(this);
    state_->connectFailed(ip, port);
}

void Download::peerClosed(SourcePeer* connection) {
    LockGuard guard(this);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) sourceOf(element)->peerClosed(connection);
}

void Download::newPeer(SourcePeer* connection) {
    LockGuard guard(this);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) sourceOf(element)->newPeer(connection);
}

void Download::placeInQueue(SourcePeer* connection, uint32_t rank) {
    LockGuard guard(this);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) sourceOf(element)->placeInQueue(connection, rank);
}

bool Download::uploadEnded(SourcePeer* connection) {
    LockGuard guard(this);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) {
        if (sourceOf(element)->uploadEnded(connection)) return true;
    }
    return false;
}

void Download::partnerRequested(SourcePeer* connection) {
    if (connection == nullptr) return;
    addSource(connection->user(), connection);
    LockGuard guard(this);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) {
        if (sourceOf(element)->partnerRequested(connection)) return;
    }
}

void Download::hashDone(bool verified) { hashVerdict_.store(verified ? 1 : 2); }

void Download::complete() {
    if (partial_ == nullptr || partial_->state() != PartialFile::kActive) return;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) sourceOf(element)->downloadComplete();
    setState(new DLS_Done(this, kDlsCompleting));
    partial_->setState(PartialFile::kFinishing);
    if (UploadSide* uploads = downloadServices().uploads) uploads->pauseFile(hash_, true);
    CompleteFileThread::launch(this);
}

void Download::completionReturned() { resumeUploads_.store(true); }

// --- the peer protocol's messages ------------------------------------------------------------------

bool Download::copyPartMap(BoolArray& out) {
    if (partial_ == nullptr) return false;
    partial_->partMap(out);
    return true;
}

bool Download::copyCrumbMap(BoolArray& out) {
    if (partial_ == nullptr) return false;
    partial_->crumbMap(out);
    return true;
}

bool Download::setHashSet(i4_file* reader) {
    LockGuard guard(this);
    return partial_ != nullptr && partial_->setHashSet(reader);
}

bool Download::setHashSetWithCrumbs(i4_file* reader) {
    LockGuard guard(this);
    return partial_ != nullptr && partial_->setHashSetWithCrumbs(reader);
}

bool Download::dataReceived(i4_file* reader, SourcePeer* connection) {
    uint64_t start = 0;
    uint64_t end = 0;
    if (!readDataHeader(reader, size(), &start, &end)) return false;
    // Data from a connection that is no peer of the pool belongs to no
    // source: dropped.
    if (connection == nullptr) return true;
    LockGuard guard(this);
    state_->dataReceived(reader, connection, start, end);
    return true;
}

void Download::noFile(SourcePeer* connection) {
    LockGuard guard(this);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) {
        if (sourceOf(element)->noFile(connection)) return;
    }
}

void Download::fileStatus(SourcePeer* connection, BoolArray* crumbs) {
    LockGuard guard(this);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) {
        if (sourceOf(element)->fileStatus(connection, crumbs)) return;
    }
}

void Download::fileNameAnswer(const char* name, SourcePeer* connection) {
    LockGuard guard(this);
    state_->fileNameAnswer(name, connection);
}

void Download::partnerAccepted(SourcePeer* connection) {
    LockGuard guard(this);
    state_->partnerAccepted(connection);
}

void Download::partnerRefused(SourcePeer* connection) {
    LockGuard guard(this);
    state_->partnerRefused(connection);
}

void Download::haveNotice(SourcePeer* connection, uint32_t crumb) {
    LockGuard guard(this);
    if (crumb >= crumbCount()) return;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) {
        if (sourceOf(element)->haveNotice(connection, crumb)) return;
    }
}

WriteResult Download::writeRequested(i4_file* reader, SourcePeer* connection, uint64_t start, uint64_t end) {
    requests_.clear();
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) {
        FileSourceInterface* source = sourceOf(element);
        if (source->connection() != connection) continue;
        uint64_t starts[3];
        uint64_t ends[3];
        source->getRequests(starts, ends);
        for (int i = 0; i < 3; i++) {
            if (starts[i] < ends[i]) requests_.push_back(Gap{starts[i], ends[i]});
        }
    }
    WriteResult result = WriteResult::kMissing;
    if (clipToRanges(start, end, requests_, pieces_) == 0 || partial_ == nullptr) return result;
    activity_.store(true, std::memory_order_relaxed);
    const i4_pos base = reader->tell();
    bool failed = false;
    for (const Gap& piece : pieces_) {
        reader->seek(base + (piece.start - start));
        WriteResult written = partial_->write(reader, piece.start, piece.end);
        if (written == WriteResult::kWriteFailed) failed = true;
        if (written == WriteResult::kComplete) result = WriteResult::kComplete;
    }
    reader->seek(base + (end - start));
    if (failed) askDiskCheck();
    if (result != WriteResult::kComplete && failed) return WriteResult::kWriteFailed;
    return result;
}
