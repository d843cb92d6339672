#include "transfer/uploads/uploadq_file.h"

#include <atomic>

#include "core/meta/read_limits.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "downloads/storage/download_services.h"
#include "downloads/storage/storage_worker.h"
#include "v4ada/error/error.h"
#include "v4ada/file/safe_file.h"
#include "v4ada/threads/linux/sys_mutex.h"
#include "v4ada/threads/linux/thread_annotations.h"

namespace {
constexpr const char* kNotSavedKey = "UQnotSaved";
constexpr const char* kNotSavedText = "Upload Queue not saved";
}  // namespace

bool isEmptyUploadqEntry(const UploadqEntry& entry) {
    const UserMeta& user = entry.user;
    return entry.hash.isZero() && user.userHash().isZero() && user.ip() == 0 && user.port() == 0;
}

// ---- writing ----

bool writeUploadqHeader(i4_file* out, int64_t saved, uint32_t groups) {
    bool ok = out->write_64(static_cast<uint64_t>(saved)) == 8;
    return out->write_32(groups) == 4 && ok;
}

bool writeUploadqCount(i4_file* out, uint32_t entries) { return out->write_32(entries) == 4; }

bool writeUploadqEntry(i4_file* out, const UniqueID& hash, UserMeta& user) {
    bool ok = hash.write(out) == kUploadqHashSize;
    return user.toDisk(out) && ok;
}

// ---- reading ----

bool UploadqReader::fail() {
    damaged_ = true;
    return false;
}

bool UploadqReader::readHeader() {
    try {
        saved_ = static_cast<int64_t>(in_->read_64());
        groupsLeft_ = in_->read_32();
    } catch (const i4_err&) {
        return fail();
    }
    return true;
}

bool UploadqReader::next(UploadqEntry& out) {
    if (damaged_) return false;
    try {
        while (entriesLeft_ == 0) {
            if (groupsLeft_ == 0) return false;
            groupsLeft_--;
            // A count beyond the data is read as far as the data goes.
            entriesLeft_ = in_->read_32();
        }
        if (out.hash.read(in_) != kUploadqHashSize) return fail();
        if (!out.user.fromDisk(in_)) return fail();
    } catch (const i4_err&) {
        return fail();
    }
    entriesLeft_--;
    return true;
}

// ---- saving ----

struct UploadqSaver::State {
    SysMutex writeLock;  // one write at a time, in generation order
    std::atomic<uint64_t> issued{0};
    uint64_t written TS_GUARDED_BY(writeLock) = 0;
};

class UploadqSaver::Job : public StorageJob {
public:
    Job(std::shared_ptr<State> state, uint64_t generation, const char* path, std::vector<uint8_t> bytes)
        : state_(std::move(state)), generation_(generation), path_(path), bytes_(std::move(bytes)) {}
    void run() override { write(); }

    bool write() {
        SysMutexGuard guard(&state_->writeLock);
        // A later save is in place already.
        if (generation_ <= state_->written) return true;
        bool saved = i4_safe_write(path_.c_str(), bytes_.data(), static_cast<i4_pos>(bytes_.size()));
        if (saved) {
            state_->written = generation_;
        } else if (UIGateway* ui = currentUI()) {
            ui->print("%s", uiText(kNotSavedKey, kNotSavedText).c_str());
        }
        return saved;
    }

private:
    std::shared_ptr<State> state_;
    uint64_t generation_;
    OwnedString path_;
    std::vector<uint8_t> bytes_;
};

UploadqSaver::UploadqSaver() : state_(std::make_shared<State>()) {}

bool UploadqSaver::saveNow(const char* path, std::vector<uint8_t> bytes) {
    Job job(state_, ++state_->issued, path, std::move(bytes));
    return job.write();
}

void UploadqSaver::saveLater(const char* path, std::vector<uint8_t> bytes) {
    auto job = std::make_unique<Job>(state_, ++state_->issued, path, std::move(bytes));
    if (StorageWorker* worker = downloadServices().storage) {
        worker->submit(std::move(job));
        return;
    }
    job->write();
}
