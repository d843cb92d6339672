#include "downloads/storage/partial_file_fixture.h"

#include <algorithm>
#include <filesystem>
#include <random>


namespace storage_test {

void RecordingSink::addSharedFile(FileMeta* copy) {
    SysMutexGuard guard(&lock_);
    added_.emplace_back(copy);
}

void RecordingSink::removeSharedFile(const FileMeta&) {
    SysMutexGuard guard(&lock_);
    removed_++;
}

bool RecordingSink::finalPlace(const UniqueID& hash, const char* path, uint32_t) {
    SysMutexGuard guard(&lock_);
    for (const auto& record : added_) {
        if (!record->fileHash().equals(hash)) continue;
        finalPath_ = path;
        return true;
    }
    return false;
}

int RecordingSink::added() {
    SysMutexGuard guard(&lock_);
    return static_cast<int>(added_.size());
}

int RecordingSink::removed() {
    SysMutexGuard guard(&lock_);
    return removed_;
}

std::string RecordingSink::finalPath() {
    SysMutexGuard guard(&lock_);
    return finalPath_;
}

void RecordingUploads::sendHaveNotice(const UniqueID&, uint32_t crumb) {
    SysMutexGuard guard(&lock_);
    notices_.push_back(crumb);
}

std::vector<uint32_t> RecordingUploads::notices() {
    SysMutexGuard guard(&lock_);
    return notices_;
}

void PartialFileTest::SetUp() {
    settings.temp = dir / "temp";
    settings.incoming = dir / "incoming";
    std::filesystem::create_directories(settings.temp);
    std::filesystem::create_directories(settings.incoming);
    worker = std::make_unique<StorageWorker>(0);
    DownloadServices& services = downloadServices();
    services.settings = &settings;
    services.sharedFiles = &sink;
    services.uploads = &uploads;
    services.storage = worker.get();
    services.tempNames = &names;
}

void PartialFileTest::TearDown() {
    resetDownloadServices();
    worker.reset();
}

std::unique_ptr<FileMeta> PartialFileTest::record(const Bytes& data, const char* name, bool withHashes) {
    std::unique_ptr<FileMeta> meta = record_of(data, name, withHashes);
    EXPECT_NE(meta, nullptr);
    return meta;
}

WriteResult PartialFileTest::put(PartialFile* file, const Bytes& data, uint64_t start, uint64_t end) {
    ByteReader reader(Bytes(data.begin() + static_cast<long>(start), data.begin() + static_cast<long>(end)));
    return file->write(reader.file(), start, end);
}

void PartialFileTest::settle(PartialFile* file) {
    worker->waitIdle();
    file->applyResults();
}

void PartialFileTest::putAll(PartialFile* file, const Bytes& data, uint64_t piece, uint32_t seed) {
    std::vector<uint64_t> starts;
    for (uint64_t at = 0; at < data.size(); at += piece) starts.push_back(at);
    std::shuffle(starts.begin(), starts.end(), std::mt19937(seed));
    int n = 0;
    for (uint64_t start : starts) {
        put(file, data, start, std::min<uint64_t>(start + piece, data.size()));
        if (++n % 7 == 0) settle(file);
    }
    settle(file);
}

}  // namespace storage_test
