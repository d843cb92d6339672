#include "transfer/hub/transfer_gateway.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "core/bus/message_q.h"
#include "core/meta/file_meta.h"
#include "core/meta/meta_messages.h"
#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "core/ui/transfer_ui.h"
#include "downloads/http/http_protocol.h"
#include "downloads/loaded_parts_verifier.h"
#include "downloads/source_factories.h"
#include "downloads/transfer_downloads.h"
#include "overlay/gateway/network_gateway.h"
#include "transfer/friends/friend_list.h"
#include "transfer/media/import_master.h"
#include "transfer/messages/message_pool.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer_door.h"
#include "transfer/sharing/known_met.h"
#include "transfer/sharing/shared_file_batch.h"
#include "transfer/uploads/upload_pool.h"

namespace {

TransferGateway* gHub = nullptr;

// The share-list directory of a shared record: "!Incomplete Files" for a
// partial download (no path), else the text before the path's last '/'.
OwnedString directoryOf(const FileMeta* record) {
    const char* path = record->path().c_str();
    if (!path || !*path) return OwnedString(kIncompleteFilesName);
    const char* slash = strrchr(path, '/');
    return slash ? OwnedString(path, static_cast<int>(slash - path)) : OwnedString("");
}

// Clears a process-wide pointer that still points at this hub's part.
template <typename Side>
void uninstall(Side* (*get)(), Side* (*set)(Side*), Side* mine) {
    if (get() == mine) set(nullptr);
}

}  // namespace

TransferGateway::TransferGateway(HashThreadFactory makeHashThread)
    : hashThread_(makeHashThread ? makeHashThread(&knownFiles_, &shareList_)
                                 : std::make_unique<HashThread>(&knownFiles_, &shareList_)),
      handler_(this),
      poster_(&sharedFiles_) {}

TransferGateway::~TransferGateway() {
    uninstall(linkSourceFactory, setLinkSourceFactory, static_cast<LinkSourceFactory*>(&protocols_));
}

TransferGateway* TransferGateway::instance() { return gHub; }

void TransferGateway::createInstance() {
    if (!gHub) gHub = new TransferGateway();
}

void TransferGateway::destroyInstance() {
    delete gHub;
    gHub = nullptr;
}

// --- start-up and shutdown -------------------------------------------------

void TransferGateway::init() {
    if (initialised_) return;
    initialised_ = true;
    handler_.registerAll(messageQ);
    // The peer events: downloads, friends, private messages, in this order.
    ClientPool* pool = clientPool();
    TransferDownloads* downloads = transferDownloads();
    if (pool && downloads) pool->addHandler(downloads->peerEventHandler());
    UploadPool* uploads = uploadPool();
    if (uploads) {
        if (pool) pool->addHandler(uploads);
        setPeerUploads(uploads);
    }
    if (FriendList* friends = FriendList::instance()) {
        if (pool) pool->addHandler(friends);
        setPeerFriends(friends);
    }
    if (MessagePool* messages = MessagePool::instance()) {
        if (pool) pool->addHandler(messages);
        setPeerMessages(messages);
    }
    if (CoreThread* core = coreThread()) {
        if (downloads) core->addTask(downloads->task());
        if (uploads) core->addTask(uploads);
    }
    ImportMaster::createInstance();
    ImportMaster::instance()->init();
    hashThread_->setImporter(ImportMaster::instance());
    httpProtocol_ = new HttpProtocol();
    protocols_.append(httpProtocol_);
    setLinkSourceFactory(&protocols_);
    setPeerShares(this);
    setSharedHashProvider(this);
    setUploadHub(this);
    setLoadedPartsVerifier(hashThread_.get());
    DownloadServices& services = downloadServices();
    services.settings = &settings_;
    services.sharedFiles = &poster_;
    services.tempNames = &tempNames_;
    storage_ = std::make_unique<StorageWorker>(StorageWorker::defaultThreadCount());
    services.storage = storage_.get();
    if (uploads) services.uploads = uploads;
}

void TransferGateway::load() {
    TransferOptions* options = transferOptions();
    if (!options) return;
    options->load();
    OwnedString shareDat = options->shareDatPath();
    OwnedString knownMet = options->knownMetPath();
    shareList_.load(shareDat.c_str(), options->incomingDir().c_str());
    if (FriendList* friends = FriendList::instance()) friends->load(options->friendMetPath().c_str());
    loadKnownFiles(knownFiles_, knownMet.c_str());
    loaded_.store(true);
    // In place, not posted: the loaded partial downloads are queued for
    // verification before the hashing below starts.
    loadPartials(options->tempDir().c_str());
    hashThread_->setSavePaths(knownMet.c_str(), shareDat.c_str());
    std::vector<OwnedString> paths;
    directoryPaths(paths);
    currentRun_ = hashThread_->hashDirectories(std::move(paths));
    CoreOptions* core = coreOptions();
    openDoor(core ? core->proxySettings().get() : nullptr, PeerDoor::kStartupListenMs);
    if (UploadPool* uploads = uploadPool()) uploads->load();
}

void TransferGateway::save() {
    TransferOptions* options = transferOptions();
    // Nothing was read yet: saving would replace the files with nothing.
    if (!options || !loaded_.load()) return;
    if (FriendList* friends = FriendList::instance()) friends->save(options->friendMetPath().c_str());
    knownFiles_.save(options->knownMetPath().c_str());
    shareList_.save(options->shareDatPath().c_str());
    options->save();
}

void TransferGateway::stopStorageThreads() {
    if (storage_) storage_->stopThreads();
}

void TransferGateway::shutdown() {
    // Once, after init: a second call (the start-up's error path) does
    // nothing.
    if (!initialised_) return;
    if (ClientPool* pool = clientPool()) pool->shutdown();
    hashThread_->stopAndWait();
    hashThread_->dropQueued();
    if (TransferDownloads* downloads = transferDownloads()) downloads->shutdown();
    // The downloads saved their records themselves; what is still queued
    // (older saves, checks) is dropped with the worker.
    if (downloadServices().storage == storage_.get()) downloadServices().storage = nullptr;
    storage_.reset();
    UploadPool* uploads = uploadPool();
    if (uploads) uploads->shutdown();
    save();
    closePeerDoor();
    // What was posted but never handled is freed before the handler goes.
    if (messageQ) messageQ->discardPending(&handler_);
    handler_.unregisterAll(messageQ);
    uninstall(peerShares, setPeerShares, static_cast<PeerShares*>(this));
    uninstall(peerFriends, setPeerFriends, static_cast<PeerFriends*>(FriendList::instance()));
    uninstall(peerMessages, setPeerMessages, static_cast<PeerMessages*>(MessagePool::instance()));
    uninstall(sharedHashProvider, setSharedHashProvider, static_cast<SharedHashProvider*>(this));
    uninstall(uploadHub, setUploadHub, static_cast<UploadHub*>(this));
    if (uploads) uninstall(peerUploads, setPeerUploads, static_cast<PeerUploads*>(uploads));
    uninstall(loadedPartsVerifier, setLoadedPartsVerifier, static_cast<LoadedPartsVerifier*>(hashThread_.get()));
    uninstall(linkSourceFactory, setLinkSourceFactory, static_cast<LinkSourceFactory*>(&protocols_));
    protocols_.clear();
    httpProtocol_ = nullptr;
    DownloadServices& services = downloadServices();
    if (services.settings == &settings_) services.settings = nullptr;
    if (services.sharedFiles == &poster_) services.sharedFiles = nullptr;
    if (services.tempNames == &tempNames_) services.tempNames = nullptr;
    if (uploads && services.uploads == uploads) services.uploads = nullptr;
    hashThread_->setImporter(nullptr);
    ImportMaster::destroyInstance();
    initialised_ = false;
}

// --- shared directories ----------------------------------------------------

void TransferGateway::setShareDirectories(const std::vector<OwnedString>& paths) {
    TransferOptions* options = transferOptions();
    shareList_.setDirectories(paths, options ? options->incomingDir().c_str() : nullptr);
    if (options) shareList_.save(options->shareDatPath().c_str());
    requestRefresh();
}

void TransferGateway::requestRefresh() {
    if (messageQ) messageQ->post(MSG_REFRESH_SHARES, nullptr);
}

void TransferGateway::refresh() {
    shareList_.clearFiles();
    sharedFiles_.clear();
    if (TransferDownloads* downloads = transferDownloads()) downloads->reshareAll();
    std::vector<OwnedString> paths;
    directoryPaths(paths);
    currentRun_ = hashThread_->hashDirectories(std::move(paths));
}

void TransferGateway::directoryPaths(std::vector<OwnedString>& out) { shareList_.directoryPaths(out); }

// --- shared files ----------------------------------------------------------

void TransferGateway::addSharedFile(FileMeta* record) {
    if (!record) return;
    std::unique_ptr<FileMeta> incoming(record);
    FileMeta* stored = nullptr;
    if (sharedFiles_.edit(record->fileHash(), [&](FileMeta* entry) {
            entry->copyFrom(record);
            stored = entry;
        })) {
        // Its path may name another directory now: it follows.
        shareList_.addFile(directoryOf(stored).c_str(), stored);
        return;
    }
    if (!record->findTag(kSentCountTag)) {
        float none = kSentStart;
        record->set(kSentCountTag, &none, kTagFloat);
    }
    if (!record->findSpecial(ST_UPLOAD_PRIORITY)) {
        int32_t priority = kDefaultUploadPriority;
        record->setSpecial(ST_UPLOAD_PRIORITY, &priority);
    }
    if (UploadPool* uploads = uploadPool())
        uploads->queue().setFilePriority(record->fileHash(), record->getSpecialInt(ST_UPLOAD_PRIORITY));
    if (!sharedFiles_.add(record)) return;
    stored = incoming.release();
    if (TransferUI* ui = currentTransferUI()) ui->sharedFileChanged(stored);
    shareList_.addFile(directoryOf(stored).c_str(), stored);
    FileMeta published;
    published.copyFrom(stored);
    published.stripLocalTags();
    if (NetworkGateway* overlay = networkGateway()) overlay->publishFile(&published);
}

void TransferGateway::addSharedFiles(SharedFileBatch* batch) {
    std::unique_ptr<SharedFileBatch> owned(batch);
    if (!batch || batch->run != currentRun_) return;
    for (auto& record : batch->records) addSharedFile(record.release());
}

void TransferGateway::removeSharedFile(FileMeta* record) {
    if (!record) return;
    std::unique_ptr<FileMeta> stored(sharedFiles_.take(record->fileHash()));
    if (!stored) return;
    if (TransferUI* ui = currentTransferUI()) ui->sharedFileRemoved(record);
    shareList_.removeFile(stored.get());
}

void TransferGateway::applyUpdate(const SharedFileUpdate& update) {
    if (update.kind == SharedFileUpdate::Kind::kRemove) {
        FileMeta* stored = sharedFiles_.findByHash(update.hash);
        if (stored) removeSharedFile(stored);
        return;
    }
    FileMeta* stored = nullptr;
    bool found = sharedFiles_.edit(update.hash, [&](FileMeta* entry) {
        entry->setPath(update.path.c_str());
        entry->setModificationTime(update.modificationTime);
        stored = entry;
    });
    if (!found) {
        metaPrintRaw("%s", kNotAddedToShared);
        return;
    }
    // Complete now: listed under the directory it was moved to.
    shareList_.addFile(directoryOf(stored).c_str(), stored);
}

void TransferGateway::setPriority(const UniqueID& hash, int priority) {
    auto set = [priority](FileMeta* entry) {
        int32_t value = priority;
        entry->setSpecial(ST_UPLOAD_PRIORITY, &value);
    };
    knownFiles_.edit(hash, set);
    sharedFiles_.edit(hash, set);
    if (TransferDownloads* downloads = transferDownloads()) downloads->setFilePriority(hash, priority);
    if (UploadPool* uploads = uploadPool()) uploads->queue().setFilePriority(hash, priority);
}

bool TransferGateway::allHashed() { return hashThread_->allHashed(); }

void TransferGateway::addSent(const UniqueID& hash, uint64_t bytes) {
    // A file of size 0 counts nothing (the count would be NaN).
    auto count = [bytes](FileMeta* entry) {
        uint32_t size = entry->size();
        if (size == 0) return false;
        float stored = entry->getFloat(kSentCountTag);
        long double sent = std::isfinite(stored) && stored > 0 ? stored : 0;
        long double copies = (static_cast<long double>(size) * sent + static_cast<long double>(bytes)) / size;
        float value = static_cast<float>(copies);
        entry->set(kSentCountTag, &value, kTagFloat);
        return true;
    };
    knownFiles_.edit(hash, [&](FileMeta* entry) { count(entry); });
    FileMeta* shared = nullptr;
    sharedFiles_.edit(hash, [&](FileMeta* entry) {
        if (count(entry)) shared = entry;
    });
    if (shared)
        if (TransferUI* ui = currentTransferUI()) ui->sharedFileChanged(shared);
}

void TransferGateway::openDoor(const ProxySettings* settings, int listenTimeoutMs) {
    ::openDoor(settings, listenTimeoutMs);
}

void TransferGateway::setUI(TransferUI* ui) { setCurrentTransferUI(ui); }

void TransferGateway::loadPartials(const char* directory) {
    TransferOptions* options = transferOptions();
    OwnedString temp = options ? options->tempDir() : OwnedString(static_cast<const char*>(nullptr));
    bool other = !directory || temp.isNull() || strcmp(directory, temp.c_str()) != 0;
    if (other) TransferHandler::importTempDirectory(directory, temp.c_str());
    if (TransferDownloads* downloads = transferDownloads()) downloads->loadPartials(temp.c_str());
}

// --- what peers and the overlay see ----------------------------------------

FileMeta* TransferGateway::sharedFile(const UniqueID& hash) { return sharedFiles_.findByHash(hash); }

std::vector<OwnedString> TransferGateway::directoryNames() {
    std::vector<OwnedString> names;
    shareList_.directoryPaths(names);
    names.emplace_back(kIncompleteFilesName);
    return names;
}

FileList* TransferGateway::directoryFiles(const char* name) { return shareList_.directoryFiles(name); }

std::vector<UniqueID> TransferGateway::sharedHashes() {
    std::vector<UniqueID> hashes;
    LLsafe* list = sharedFiles_.list()->list();
    LLsafeGuard hold(list);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(list, &cursor)) hashes.push_back(static_cast<FileMeta*>(element)->fileHash());
    return hashes;
}
