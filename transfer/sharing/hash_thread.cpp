#include "transfer/sharing/hash_thread.h"

#include "core/bus/message_q.h"
#include "core/meta/file_meta.h"
#include "core/meta/hash_context.h"
#include "core/meta/meta_messages.h"
#include "core/strings/string_table.h"
#include "core/ui/transfer_ui.h"
#include "transfer/sharing/file_importer.h"
#include "transfer/sharing/indexed_file_list.h"
#include "transfer/sharing/share_list.h"
#include "transfer/sharing/shared_file_batch.h"
#include "v4ada/digest/part_hash.h"
#include "v4ada/error/error.h"
#include "v4ada/threads/linux/threads.h"
#include "v4ada/time/random.h"
#include "v4ada/time/time_value.h"

namespace {

void post(int code, void* data) {
    if (messageQ) messageQ->post(code, data);
}

}  // namespace

HashThread::HashThread(IndexedFileList* knownFiles, ShareList* shareList)
    : knownFiles_(knownFiles), shareList_(shareList) {}

HashThread::~HashThread() {
    finishBody();
    dropQueued();
}

void HashThread::dropQueued() {
    for (LoadedParts* parts : finishWork_) parts->release();
    finishWork_.clear();
    std::deque<LoadedParts*> queued;
    {
        SysMutexGuard guard(&finishLock_);
        queued.swap(finishQueue_);
    }
    for (LoadedParts* parts : queued) parts->release();
}

void HashThread::setSavePaths(const char* knownMetPath, const char* shareDatPath) {
    SysMutexGuard guard(&dirLock_);
    knownMetPath_ = knownMetPath;
    shareDatPath_ = shareDatPath;
}

void HashThread::setImporter(FileImporter* importer) { importer_.store(importer); }

void HashThread::setKeepRunning(bool (*keepRunning)()) { keepRunning_.store(keepRunning); }

uint64_t HashThread::hashDirectories(std::vector<OwnedString> paths) {
    uint64_t run;
    {
        SysMutexGuard guard(&dirLock_);
        metaPrint("%s", uiString(STRINGS_LOADING_SHARED));
        allHashed_.store(false);
        for (const OwnedString& path : paths) metaDebug(kHashListDebug, path.c_str());
        pending_ = std::make_unique<std::vector<OwnedString>>(std::move(paths));
        run = ++runs_;
    }
    start();
    setPriority(kPriority);
    return run;
}

void HashThread::queueFinished(LoadedParts* parts) {
    if (!parts) return;
    {
        SysMutexGuard guard(&finishLock_);
        finishQueue_.push_back(parts);
    }
    start();
}

void HashThread::onStart() { seed_random(); }

void HashThread::run() {
    StepResult result = step();
    if (result.quit) {
        if (currentState() == kRunning) requestStop();
        return;
    }
    if (result.readData) pause(kPauseMs);
}

void HashThread::pause(int ms) { sleep_ms(ms); }

bool HashThread::stopping() {
    bool (*keepRunning)() = keepRunning_.load();
    return currentState() == kStopRequested || (keepRunning && !keepRunning());
}

HashThread::StepResult HashThread::step() {
    StepResult result;
    try {
        if (stopping()) {
            result.quit = true;
            return result;
        }
        takeNewList();
        if (verifyOne()) {
            result.readData = true;
            return result;
        }
        if (runActive_) {
            post(MSG_RESCHEDULE, nullptr);
            hashSome(result);
            if (result.quit) return result;
            if (paths_.empty()) finishRun();
        }
        stopWhenIdle(result);
    } catch (const i4_err&) {
        metaPrintRaw("%s", kHashExceptionText);
        result.quit = true;
    }
    return result;
}

void HashThread::takeNewList() {
    SysMutexGuard guard(&dirLock_);
    if (!pending_) return;
    paths_.assign(pending_->begin(), pending_->end());
    pending_.reset();
    run_ = runs_;
    runActive_ = true;
    listing_.reset();
    fileIndex_ = 0;
}

bool HashThread::verifyOne() {
    if (finishWork_.empty()) {
        SysMutexGuard guard(&finishLock_);
        finishWork_.swap(finishQueue_);
    }
    if (finishWork_.empty()) return false;
    LoadedParts* parts = finishWork_.front();
    finishWork_.pop_front();
    bool verified;
    try {
        verified = parts->verify();
    } catch (const i4_err&) {
        verified = false;
    }
    parts->hashDone(verified);
    parts->release();
    return true;
}

void HashThread::hashSome(StepResult& result) {
    auto batch = std::make_unique<SharedFileBatch>();
    batch->run = run_;
    TimeValue started;
    int handled = 0;
    while (!paths_.empty()) {
        const OwnedString& directory = paths_.front();
        if (!listing_) {
            listing_ = std::make_unique<DirListing>();
            fileIndex_ = 0;
            if (!fs_list_directory(directory.c_str(), *listing_, false)) {
                metaPrint("%s: %s", uiString(STRINGS_COULDNT_HASH), directory.c_str());
                shareList_->dropDirectory(directory.c_str());
                listing_.reset();
                paths_.pop_front();
                continue;
            }
        }
        Outcome outcome = hashNextFile(batch.get());
        if (outcome == Outcome::kDirectoryDone) {
            listing_.reset();
            paths_.pop_front();
            continue;
        }
        if (outcome == Outcome::kQuit) {
            result.quit = true;
            break;
        }
        handled++;
        if (outcome == Outcome::kHashed) {
            result.readData = true;
            break;
        }
        TimeValue now;
        if (handled >= kBatchFiles || TimeValue::msBetween(now, started) >= kBatchMs) break;
    }
    if (!batch->records.empty()) post(MSG_ADD_SHARED_FILES, batch.release());
}

HashThread::Outcome HashThread::hashNextFile(SharedFileBatch* batch) {
    if (fileIndex_ >= listing_->files.size()) return Outcome::kDirectoryDone;
    const char* name = listing_->files[fileIndex_++].c_str();
    OwnedString path;
    path.format("%s%c%s", paths_.front().c_str(), '/', name);

    FileStatus status;
    if (!fs_status(path.c_str(), status)) {
        metaPrintRaw(kNoStatusText, name);
        return Outcome::kSkipped;
    }
    // A FIFO or a device could block the thread, and shutdown with it.
    if (status.kind != FileKind::kRegular) return Outcome::kSkipped;
    auto time = static_cast<uint32_t>(status.modified);
    // A file of 4 GiB or more never matches a record: the record refuses
    // it below with its message.
    if (status.size >= 0 && static_cast<uint64_t>(status.size) <= kLargestHashableSize) {
        if (FileMeta* known = knownFiles_->copyBySizeTimeName(static_cast<uint32_t>(status.size), time, name)) {
            known->setPath(path.c_str());
            batch->records.emplace_back(known);
            return Outcome::kReused;
        }
    }

    if (TransferUI* ui = currentTransferUI()) ui->setStatus(name);
    bool quit = false;
    std::unique_ptr<FileMeta> record(hashFile(path.c_str(), &quit));
    if (quit) return Outcome::kQuit;
    if (!record) {
        metaPrintRaw(kCouldntHashText, name);
        return Outcome::kHashed;
    }
    // The same content known under another name, time or place: the known
    // record follows the file and keeps its tags (priority, "# Sent").
    FileMeta* fresh = record.get();
    bool known = knownFiles_->edit(fresh->fileHash(), [&](FileMeta* entry) {
        entry->setPath(path.c_str());
        entry->setModificationTime(time);
        entry->setName(name);
        fresh->copyFrom(entry);
    });
    if (!known) {
        fresh->setModificationTime(time);
        FileImporter* importer = importer_.load();
        if (importer && !importer->import(fresh)) {
            OwnedString text = uiText(kImportFailedKey, kImportFailedDefault);
            metaPrint("%s %s", text.c_str(), name);
            return Outcome::kHashed;
        }
        auto* copy = new FileMeta();
        copy->copyFrom(fresh);
        if (!knownFiles_->add(copy)) delete copy;
    }
    batch->records.push_back(std::move(record));
    return Outcome::kHashed;
}

FileMeta* HashThread::hashFile(const char* path, bool* quit) {
    HashContext context;
    try {
        std::unique_ptr<FileMeta> record(new FileMeta(path, context));
        while (record->hashStep(context)) {
            if (stopping()) {
                *quit = true;
                return nullptr;
            }
        }
        return record.release();
    } catch (const i4_err&) {
        return nullptr;
    }
}

void HashThread::finishRun() {
    OwnedString knownMetPath;
    OwnedString shareDatPath;
    {
        SysMutexGuard guard(&dirLock_);
        runActive_ = false;
        // A newer list takes over at the next step and ends on its own.
        if (pending_) return;
        knownMetPath = knownMetPath_;
        shareDatPath = shareDatPath_;
    }
    TransferUI* ui = currentTransferUI();
    if (ui) ui->setStatus(uiString(STRINGS_NONE));
    metaPrint("%s", uiString(STRINGS_DONE_LOADING_SHARED));
    knownFiles_->save(knownMetPath.c_str());
    shareList_->save(shareDatPath.c_str());
    {
        SysMutexGuard guard(&dirLock_);
        if (!pending_) allHashed_.store(true);
    }
    post(MSG_SHARES_UPDATED, nullptr);
    if (ui) ui->sharesLoaded();
}

void HashThread::stopWhenIdle(StepResult& result) {
    SysMutexGuard dirGuard(&dirLock_);
    SysMutexGuard finishGuard(&finishLock_);
    if (runActive_ || pending_ || !finishQueue_.empty() || !finishWork_.empty()) return;
    result.idle = true;
    // Under both locks: work handed over after this is followed by a start
    // that withdraws the request.
    if (currentState() == kRunning) requestStop();
}
