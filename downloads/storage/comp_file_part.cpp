#include "downloads/storage/comp_file_part.h"

#include "downloads/storage/descriptor_cache.h"
#include "downloads/storage/part_met.h"
#include "v4ada/file/fs.h"

namespace {

bool modificationTime(const char* path, uint32_t* time) {
    FileStatus status;
    if (!fs_status(path, status) || status.directory) return false;
    *time = static_cast<uint32_t>(status.modified);
    return true;
}

}  // namespace

CompFilePart::CompFilePart(uint64_t start, uint64_t end, const char* path, const uint32_t* expectedTime,
                           std::shared_ptr<DescriptorCache> cache)
    : FilePart(start, start, end, path, true), path_(path), cache_(std::move(cache)) {
    uint32_t time = 0;
    changed_ = expectedTime == nullptr || !modificationTime(path, &time) || time != *expectedTime;
}

CompFilePart::~CompFilePart() { close(); }

bool CompFilePart::open() { return file(true) != nullptr; }

FileHandle CompFilePart::file(bool create) { return cache_->open(path_, create); }

void CompFilePart::remove() {
    close();
    fs_remove(path_.c_str());
}

void CompFilePart::saveTags(Meta* record, uint32_t index) {
    uint32_t time = 0;
    if (record != nullptr && modificationTime(path_.c_str(), &time)) setModTag(*record, index, time);
}

bool CompFilePart::close() { return cache_->forget(path_); }
