#include "downloads/storage/partial_file_fixture.h"

#include <algorithm>
#include <filesystem>
#include <random>

#include "core/meta/special_tags.h"
#include "v4ada/digest/md4.h"

namespace storage_test {

namespace {

constexpr uint64_t kPart = 9728000;
constexpr uint64_t kCrumb = 486400;

Bytes md4(const uint8_t* data, size_t n) {
    Bytes out(16);
    Md4Context context;
    context.update(data, n);
    context.final(out.data());
    return out;
}

}  // namespace

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

Digests::Digests(const Bytes& data) {
    for (size_t at = 0; at < data.size(); at += kPart) {
        parts.push_back(md4(data.data() + at, std::min<size_t>(kPart, data.size() - at)));
    }
    for (size_t at = 0; at < data.size(); at += kCrumb) {
        Bytes digest = md4(data.data() + at, std::min<size_t>(kCrumb, data.size() - at));
        crumbs.push_back(Bytes(digest.begin(), digest.begin() + 8));
    }
    if (parts.size() < 2) {
        fileHash = md4(data.data(), data.size());
    } else {
        Bytes joined;
        for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
        fileHash = md4(joined.data(), joined.size());
    }
}

Bytes Digests::hashSets() const {
    Bytes out;
    if (parts.size() >= 2) {
        out.push_back(1);
        for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    }
    if (crumbs.size() >= 2) {
        out.push_back(1);
        for (const Bytes& crumb : crumbs) out.insert(out.end(), crumb.begin(), crumb.end());
    }
    return out;
}

void PartialFileTest::SetUp() {
    initSpecialTags();
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
    resetSpecialTags();
}

std::unique_ptr<FileMeta> PartialFileTest::record(const Bytes& data, const char* name, bool withHashes) {
    auto meta = std::make_unique<FileMeta>();
    meta->setName(name);
    meta->setSize(static_cast<uint32_t>(data.size()));
    Digests digests(data);
    UniqueID hash;
    hash.copy(digests.fileHash.data());
    meta->setFileHash(hash);
    if (withHashes) {
        Reader sets(digests.hashSets());
        EXPECT_TRUE(meta->readHashSets(sets.file()));
    }
    return meta;
}

WriteResult PartialFileTest::put(PartialFile* file, const Bytes& data, uint64_t start, uint64_t end) {
    Reader reader(Bytes(data.begin() + static_cast<long>(start), data.begin() + static_cast<long>(end)));
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
