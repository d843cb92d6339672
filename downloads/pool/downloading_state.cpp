#include "downloads/pool/downloading_state.h"

#include <algorithm>

#include "core/bus/message_q.h"
#include "core/meta/file_meta.h"
#include "downloads/file_source_interface.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download.h"
#include "downloads/pool/download_states.h"
#include "downloads/pool/partner_manager.h"
#include "overlay/index/download_sources.h"

namespace {

FileSourceInterface* sourceOf(void* element) { return static_cast<FileSourceInterface*>(element); }

}  // namespace

DLS_Downloading::DLS_Downloading(Download* download) : DLS_Downloading(download, kDlsLooking) {}

DLS_Downloading::DLS_Downloading(Download* download, int code) : DownloadState(download, code) {
    if (PartialFile* partial = download->partialFile()) mark_ = partial->bytesDone();
}

void DLS_Downloading::tick(int elapsedMs) {
    Download* download = download_;
    PartialFile* partial = download->partialFile();
    if (partial == nullptr) return;
    if (partial->nothingMissing()) {
        download->complete();
        return;
    }
    updateSpeed(elapsedMs);
    askSources();
    hashSetStep(elapsedMs);
}

void DLS_Downloading::updateSpeed(int elapsedMs) {
    window_ += std::max(elapsedMs, 0);
    if (window_ <= kSpeedWindowMs) return;
    int64_t done = download_->partialFile()->bytesDone();
    // Corruption lowers bytes done: such a window counts as empty.
    double sample = std::max(0.0, static_cast<double>(done - mark_) / window_);
    samples_[index_] = sample;
    double sum = 0.0;
    for (double& slot : samples_) {
        if (slot == 0.0) slot = sample;
        sum += slot;
    }
    download_->setSpeed(sum / kSampleCount);
    index_ = (index_ + 1) % kSampleCount;
    window_ = 0;
    mark_ = done;
}

void DLS_Downloading::askSources() {
    Download* download = download_;
    DLPool* pool = DLPool::instance();
    if (pool == nullptr || !pool->gateOpen() || !download->progress()->hasFreeRange()) return;
    if (download->size() <= kSmallTarget && download->speed() >= kEnoughSpeed) return;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(download->sources(), &cursor)) {
        if (sourceOf(element)->tryAsk()) return;
    }
    if (DownloadSources* search = download->sourceSearch()) search->search(download->fileHash());
}

void DLS_Downloading::hashSetStep(int elapsedMs) {
    PartialFile* partial = download_->partialFile();
    bool complete = false;
    if (partial->hashSetKnown()) {
        partial->withMeta([&complete](FileMeta& record) { complete = record.crumbHashesComplete(); });
        complete = complete || partial->crumbHashesDropped();
    }
    if (complete) return;
    hashSetTimer_ += std::max(elapsedMs, 0);
    if (hashSetTimer_ <= kHashSetPeriodMs) return;
    hashSetTimer_ = kHashSetRetryAt;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(download_->sources(), &cursor)) {
        if (sourceOf(element)->requestHashSet()) {
            hashSetTimer_ = 0;
            return;
        }
    }
}

void DLS_Downloading::pause() {
    download_->setState(new DLS_Paused(download_));
    if (messageQ) messageQ->post(MSG_CHECK_DISK_SPACE, nullptr);
}

void DLS_Downloading::diskFull() { download_->setState(new DLS_DiskFull(download_)); }

void DLS_Downloading::dataReceived(i4_file* reader, SourcePeer* connection, uint64_t start, uint64_t end) {
    Download* download = download_;
    if (download->writeRequested(reader, connection, start, end) == WriteResult::kComplete) {
        download->complete();
        return;
    }
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(download->sources(), &cursor)) sourceOf(element)->dataReceived(connection);
}

bool DLS_Downloading::openSlot(SourcePeer* connection) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(download_->sources(), &cursor)) {
        if (sourceOf(element)->openSlot(connection)) return true;
    }
    return false;
}

void DLS_Downloading::fileNameAnswer(const char* name, SourcePeer* connection) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(download_->sources(), &cursor)) sourceOf(element)->setFileName(name, connection);
}

void DLS_Downloading::connectFailed(uint32_t ip, uint16_t port) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(download_->sources(), &cursor)) sourceOf(element)->connectFailed(ip, port);
}

DLS_Highest::DLS_Highest(Download* download) : DLS_Downloading(download, kDlsLooking) {
    download->setPriority(Download::kHighest);
}

DLS_Highest::~DLS_Highest() {
    // A priority chosen meanwhile stays; only the Highest one steps down.
    if (download_->priority() == Download::kHighest) download_->setPriority(Download::kHigh);
    if (messageQ) messageQ->post(MSG_RESCHEDULE, nullptr);
}

void DLS_Highest::tick(int elapsedMs) {
    partnerStep();
    DLS_Downloading::tick(elapsedMs);
}

void DLS_Highest::partnerStep() {
    PartnerManager* partners = PartnerManager::instance();
    if (partners == nullptr || !partners->hasRoom()) return;
    FileSourceInterface* candidate = nullptr;
    double best = 0.0;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(download_->sources(), &cursor)) {
        double score = sourceOf(element)->partnerScore();
        if (score > best) {
            best = score;
            candidate = sourceOf(element);
        }
        if (score == kPerfectPartner) break;
    }
    if (candidate) candidate->tryPartner();
}

bool DLS_Highest::becomeHighest() {
    download_->setPriority(Download::kHighest);
    return true;
}

void DLS_Highest::partnerAccepted(SourcePeer* connection) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(download_->sources(), &cursor)) {
        if (sourceOf(element)->partnerAccepted(connection)) return;
    }
}

void DLS_Highest::partnerRefused(SourcePeer* connection) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(download_->sources(), &cursor)) {
        if (sourceOf(element)->partnerRefused(connection)) return;
    }
}
