#include "downloads/storage/record_saver.h"

#include "core/meta/special_tags.h"
#include "core/ui/ui_gateway.h"
#include "downloads/storage/part_met.h"
#include "downloads/storage/partial_file.h"
#include "downloads/storage/partial_file_owner.h"
#include "downloads/storage/storage_worker.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/file/safe_file.h"
#include "v4ada/file/unix_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

UIGateway* ui() { return currentUI(); }

}  // namespace

// What a save writes: the encoded record, and the data files to sync
// first so that the record never claims bytes that are not on the disk.
struct RecordSaver::Snapshot {
    std::vector<uint8_t> bytes;
    OwnedString path;
    FileHandle dataFile;
    std::vector<FilePart*> parts;
};

class RecordSaver::Job : public StorageJob {
public:
    explicit Job(RecordSaver* saver) : saver_(saver) { saver_->file_.addRef(); }
    ~Job() override { saver_->file_.release(); }
    void run() override { saver_->writePending(); }

private:
    RecordSaver* saver_;
};

RecordSaver::RecordSaver(PartialFile& file, SysMutex& mutex) : file_(file), mutex_(mutex) {}

RecordSaver::~RecordSaver() = default;

void RecordSaver::resizeLocked(uint32_t partCount) { dirtyParts_.assign(partCount, 0); }

void RecordSaver::takeWrittenLocked(FileHandle& dataFile, std::vector<FilePart*>& parts) {
    for (uint32_t p = 0; p < dirtyParts_.size(); p++) {
        if (!dirtyParts_[p]) continue;
        dirtyParts_[p] = 0;
        if (file_.dataFile_) {
            dataFile = file_.dataFile_;
        } else {
            parts.push_back(file_.parts_[p].get());
        }
    }
}

std::unique_ptr<RecordSaver::Snapshot> RecordSaver::build() {
    PartialFile& f = file_;
    if (f.state() != PartialFile::kActive) return nullptr;
    auto snapshot = std::make_unique<Snapshot>();
    FileMeta copy;
    std::vector<Gap> gaps;
    std::vector<uint8_t> trusted(f.partCount_, 0);
    int64_t done;
    {
        SysMutexGuard guard(&mutex_);
        f.sameLock(mutex_);
        f.checks_.sameLock(mutex_);
        copy.copyFrom(&f.meta_);
        for (uint32_t p = 0; p < f.partCount_; p++) trusted[p] = f.checks_.partTrustedLocked(p);
        takeWrittenLocked(snapshot->dataFile, snapshot->parts);
        gaps = f.gaps_.gaps();
        done = f.bytesDone_;
    }
    snapshot->path = f.metPath();
    uint32_t time = 0;
    if (f.version_ == kPartMetSingleFile) {
        FileStatus status;
        if (fs_status(f.path().c_str(), status)) time = static_cast<uint32_t>(status.modified);
    }
    copy.setModificationTime(time);
    int32_t value = static_cast<int32_t>(static_cast<uint32_t>(done));
    copy.setSpecial(ST_PART_TRANS, &value);
    copy.setSpecial(ST_TEMP_FILE_NAME, f.dataFileName_.c_str());
    value = f.owner_ ? f.owner_->priority() : 0;
    copy.setSpecial(ST_DOWNLOAD_PRIORITY, &value);
    value = f.owner_ && f.owner_->isPaused() ? 1 : 0;
    copy.setSpecial(ST_STATE, &value);
    for (uint32_t p = 0; p < f.partCount_; p++) {
        if (trusted[p]) f.parts_[p]->saveTags(&copy, p);
    }
    setGapTags(copy, gaps);
    i4_ram_file_class out(nullptr, 0, 64 * 1024);
    bool encoded = encodePartMet(f.version_, copy, &out);
    if (encoded) snapshot->bytes.assign(out.data(), out.data() + out.size());
    i4_free(out.data());
    if (!encoded) return nullptr;
    return snapshot;
}

bool RecordSaver::writePending() {
    SysMutexGuard writer(&writeMutex_);
    std::unique_ptr<Snapshot> snapshot;
    {
        SysMutexGuard guard(&pendingMutex_);
        snapshot = std::move(pending_);
    }
    if (!snapshot) return true;
    if (file_.state() != PartialFile::kActive) return false;
    bool synced = !snapshot->dataFile || snapshot->dataFile->syncData();
    for (FilePart* part : snapshot->parts) {
        FileHandle handle = part->file(false);
        if (handle && !handle->syncData()) synced = false;
    }
    bool ok = false;
    if (synced) {
        i4_safe_file out(snapshot->path.c_str(), kFsWrite | kFsTruncate);
        int length = static_cast<int>(snapshot->bytes.size());
        ok = out.file() != nullptr && out.file()->write(snapshot->bytes.data(), length) == length;
        ok = out.close() && ok;
    } else {
        // The data may not be on the disk: sync it again at the next save.
        SysMutexGuard guard(&mutex_);
        if (snapshot->dataFile) dirtyParts_.assign(dirtyParts_.size(), 1);
        for (FilePart* part : snapshot->parts) dirtyParts_[part->start() / kPartSize] = 1;
    }
    if (!ok) {
        if (UIGateway* out = ui()) out->printRaw("ERROR: partial info not saved: %s\n", snapshot->path.c_str());
    }
    return ok;
}

bool RecordSaver::save(bool wait) {
    std::unique_ptr<Snapshot> snapshot = build();
    if (!snapshot) return false;
    {
        SysMutexGuard guard(&pendingMutex_);
        pending_ = std::move(snapshot);  // replaces one not yet written
    }
    StorageWorker* worker = file_.worker_;
    if (wait || worker == nullptr || worker->threadCount() == 0) return writePending();
    worker->submit(std::make_unique<Job>(this));
    return true;
}

void RecordSaver::stop() {
    SysMutexGuard writer(&writeMutex_);
    SysMutexGuard guard(&pendingMutex_);
    pending_.reset();
}

void RecordSaver::removeAt(const OwnedString& record) {
    if (record.length() == 0) return;
    OwnedString other;
    fs_remove(record.c_str());
    other.format("%S.bak", &record);
    fs_remove(other.c_str());
    other.format("%S.tmp", &record);
    fs_remove(other.c_str());
}
