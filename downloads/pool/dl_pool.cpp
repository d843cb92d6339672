#include "downloads/pool/dl_pool.h"

#include <algorithm>
#include <limits>

#include "core/bus/message_q.h"
#include "core/meta/file_meta.h"
#include "core/options/core_options.h"
#include "core/strings/string_table.h"
#include "core/ui/transfer_ui.h"
#include "core/ui/ui_gateway.h"
#include "downloads/pool/downloading_state.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/storage/download_services.h"
#include "v4ada/containers/list_iterator.h"

namespace {

DLPool* gPool = nullptr;

Download* downloadOf(void* element) { return static_cast<Download*>(element); }

// The gate counter stops growing here: it only matters up to kGateMs.
constexpr int kGateCounterCap = 1 << 20;

}  // namespace

DLPool* DLPool::instance() { return gPool; }

void DLPool::createInstance() {
    if (!gPool) gPool = new DLPool();
}

void DLPool::destroyInstance() {
    delete gPool;
    gPool = nullptr;
}

DLPool::~DLPool() {
    if (PartnerManager* partners = PartnerManager::instance()) partners->setHighest(nullptr);
    while (void* element = downloads_.removeAt(0)) {
        Download* download = downloadOf(element);
        download->detachSources();
        download->release();
    }
}

// --- the tick ----------------------------------------------------------------------

void DLPool::holdGate() {
    gateCounter_ = 0;
    gateOpen_ = false;
}

void DLPool::updateGate() {
    CoreOptions* options = coreOptions();
    double limit = options ? options->downloadLimit() : 0.0;
    if (limit == 0.0) limit = std::max(peakRate(), options ? options->lineSpeedDown() : 0.0);
    double margin = std::max(limit / 10.0, kGateMinMargin);
    gateOpen_ = transferring_ <= 1 || limit - currentRate() >= margin;
    if (gateCounter_ < kGateMs) gateOpen_ = false;
}

bool DLPool::tick(int elapsedMs) {
    elapsedMs = std::max(elapsedMs, 0);
    gateCounter_ = std::min(gateCounter_ + elapsedMs, kGateCounterCap);
    updateGate();

    if (diskCountdown_ > 0) diskCountdown_ -= elapsedMs;
    if (diskCountdown_ <= 0) checkDiskSpace();

    bool work = false;
    double sum = 0.0;
    {
        LLsafeGuard guard(&downloads_);
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(&downloads_, &cursor)) {
            Download* download = downloadOf(element);
            if (download->tick(elapsedMs)) work = true;
            sum += download->speed();
        }
    }
    currentRate_.store(sum, std::memory_order_relaxed);
    if (sum > peakRate()) peakRate_.store(sum, std::memory_order_relaxed);
    if (CoreOptions* options = coreOptions()) options->setCurrentDownRate(sum);

    if (saveCountdown_ > 0) saveCountdown_ -= elapsedMs;
    if (saveCountdown_ <= 0) {
        if (CoreOptions* options = coreOptions()) options->setUploadLimit(options->uploadLimit());
        if (UIGateway* ui = currentUI()) ui->debug("Saving downloads.\n");
        saveCountdown_ = kSaveMs;
        saveAll();
    }
    return work;
}

void DLPool::saveAll() {
    LLsafeGuard guard(&downloads_);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&downloads_, &cursor)) {
        Download* download = downloadOf(element);
        // The record is built now; the storage worker writes it.
        download->lock();
        download->saveRecord();
        download->unlock();
    }
}

void DLPool::checkDiskSpace() {
    diskCountdown_ = kDiskCheckMs;
    uint64_t free = std::numeric_limits<uint64_t>::max();
    uint64_t reserve = 0;
    if (DownloadSettings* settings = downloadServices().settings) {
        reserve = settings->reserveBytes();
        for (const OwnedString& directory : {settings->tempDir(), settings->incomingDir()}) {
            bool queried = true;
            uint64_t space = settings->freeSpace(directory.c_str(), &queried);
            // A file system that cannot be asked counts as roomy.
            if (queried) free = std::min(free, space);
        }
    }
    LLsafeGuard guard(&downloads_);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&downloads_, &cursor)) {
        if (free <= reserve) {
            downloadOf(element)->diskFull();
        } else {
            downloadOf(element)->diskOk();
        }
    }
}

// --- downloads coming and going ---------------------------------------------------------

Download* DLPool::findDownload(const UniqueID& hash) {
    LLsafeGuard guard(&downloads_);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&downloads_, &cursor)) {
        Download* download = downloadOf(element);
        if (!download->fileHash().equals(hash)) continue;
        download->addRef();
        return download;
    }
    return nullptr;
}

void DLPool::startDownload(FileMeta* record) {
    if (record == nullptr) return;
    UIGateway* ui = currentUI();
    if (Download* existing = findDownload(record->fileHash())) {
        existing->release();
        if (ui) ui->print("%s %s.", uiString(STRINGS_ALREADY_DOWNLOADING), record->name());
        return;
    }
    SharedFilesSink* shared = downloadServices().sharedFiles;
    if (shared && shared->contains(record->fileHash())) {
        if (ui) ui->print("%s %s.", uiString(STRINGS_ALREADY_HAVE), record->name());
        return;
    }
    if (ui) {
        ui->print("%s: %s", uiString(STRINGS_DOWNLOADING), record->name());
        ui->log("Start Download: %s", record->name());
    }
    auto* download = new Download();
    download->addRef();
    if (download->createNew(record)) {
        downloads_.append(download);
        reschedule();
    } else {
        download->release();
    }
    checkDiskSpace();
}

void DLPool::startOldDownload(FileMeta* record, uint32_t number) {
    if (record == nullptr) return;
    if (Download* existing = findDownload(record->fileHash())) {
        existing->release();
        if (UIGateway* ui = currentUI()) ui->print("%s %s.", uiString(STRINGS_ALREADY_DOWNLOADING), record->name());
        return;
    }
    auto* download = new Download();
    download->addRef();
    OwnedString name(record->name());
    download->loadOld(record, number);
    if (UIGateway* ui = currentUI()) ui->log("Start Old Download: %s", name.c_str());
    downloads_.append(download);
}

void DLPool::endDownload(Download* download) {
    if (download == nullptr) return;
    {
        LLsafeGuard guard(&downloads_);
        if (!downloads_.LL::contains(download)) return;
    }
    OwnedString name = download->name();
    if (UIGateway* ui = currentUI()) {
        // Only a download that ended well is logged as ended.
        download->lock();
        int code = download->state()->code();
        download->unlock();
        if (code == kDlsCorrupted) {
            ui->log("%s: %s", uiString(STRINGS_CORRUPTED_DOWNLOAD), name.c_str());
        } else if (code == kDlsErrorHashing) {
            ui->log("%s %s", name.c_str(), uiString(STRINGS_DL_STATUS_ERROR_HASHING));
        } else {
            ui->log("End Download: %s", name.c_str());
        }
    }
    if (UploadSide* uploads = downloadServices().uploads) uploads->pauseFile(download->fileHash(), false);
    downloads_.remove(download);
    PartnerManager* partners = PartnerManager::instance();
    if (partners && partners->highest() == download) partners->setHighest(nullptr);
    if (TransferUI* ui = currentTransferUI()) ui->downloadRemoved(download);
    download->detachSources();
    download->release();
    if (messageQ) messageQ->post(MSG_CHECK_DISK_SPACE, nullptr);
    reschedule();
}

void DLPool::shutdown() {
    if (PartnerManager* partners = PartnerManager::instance()) partners->setHighest(nullptr);
    while (void* element = downloads_.removeAt(0)) {
        Download* download = downloadOf(element);
        download->shutdown();
        download->detachSources();
        download->release();
    }
}

void DLPool::reshareAll() {
    LLsafeGuard guard(&downloads_);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&downloads_, &cursor)) {
        if (PartialFile* partial = downloadOf(element)->partialFile()) partial->reshare();
    }
}

int DLPool::downloadCount() { return downloads_.count(); }

void DLPool::setFilePriority(const UniqueID& hash, int priority) {
    Download* download = findDownload(hash);
    if (!download) return;
    if (PartialFile* partial = download->partialFile()) partial->setUploadPriority(priority);
    download->release();
}

// --- priorities ----------------------------------------------------------------------------

bool DLPool::compare(void* a, void* b) {
    return a != nullptr && (b == nullptr || downloadOf(b)->priority() < downloadOf(a)->priority());
}

void DLPool::setPriority(Download* download, int priority) {
    if (download == nullptr) return;
    priority = std::clamp(priority, static_cast<int>(Download::kLow), static_cast<int>(Download::kHighest));
    if (priority == Download::kHighest) {
        LLsafeGuard guard(&downloads_);
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(&downloads_, &cursor)) {
            if (downloadOf(element)->priority() == Download::kHighest) downloadOf(element)->setPriority(Download::kHigh);
        }
    }
    download->setPriority(priority);
    reschedule();
}

void DLPool::reschedule() {
    downloads_.sort(this);
    PartnerManager* partners = PartnerManager::instance();
    Download* highest = nullptr;
    LLsafeGuard guard(&downloads_);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&downloads_, &cursor)) {
        if (downloadOf(element)->becomeHighest()) {
            highest = downloadOf(element);
            break;
        }
    }
    if (highest == nullptr) {
        if (partners) partners->setHighest(nullptr);
        return;
    }
    cursor = nullptr;
    while (void* element = LL::walk(&downloads_, &cursor)) {
        Download* download = downloadOf(element);
        if (download == highest) continue;
        download->lock();
        if (dynamic_cast<DLS_Highest*>(download->state()) != nullptr) {
            download->setState(new DLS_Downloading(download));
        } else if (download->priority() == Download::kHighest) {
            download->setPriority(Download::kHigh);
        }
        download->unlock();
    }
    if (partners) partners->setHighest(highest);
}
