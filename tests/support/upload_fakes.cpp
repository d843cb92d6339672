#include "support/upload_fakes.h"

#include <cstring>

#include "v4ada/error/error.h"
#include "v4ada/memory/malloc4.h"

namespace support {

namespace {
void* copyOf(const std::string& bytes) {
    void* memory = i4_malloc(bytes.size() + 1);
    std::memcpy(memory, bytes.data(), bytes.size());
    return memory;
}
}  // namespace

CountingFile::CountingFile(const std::string& bytes)
    : i4_ram_file_class(copyOf(bytes), static_cast<i4_pos>(bytes.size()), 0) {}

CountingFile::~CountingFile() {
    i4_free(data());
    if (destroyed) *destroyed = true;
}

int CountingFile::read(void* buffer, int n) {
    reads++;
    if (failAfter >= 0 && reads > failAfter) {
        if (throwOnRead) throw i4_err("read error");
        return -1;
    }
    return i4_ram_file_class::read(buffer, n);
}

int FakePartReader::read(void* buffer, uint64_t start, uint64_t end) {
    reads.push_back(std::to_string(start) + "-" + std::to_string(end));
    if (forced >= 0) return forced;
    if (fileState != kStateActive) return fileState;
    if (start >= end || end > bytes.size()) return kUnavailable;
    for (const auto& gap : missing)
        if (start < gap.second && gap.first < end) return kUnavailable;
    std::memcpy(buffer, bytes.data() + start, end - start);
    return kReadDone;
}

void RecordingUploadHub::addSent(const UniqueID& hash, uint64_t bytes) {
    log.push_back("addSent " + std::to_string(hash.bytes()[0]) + " " + std::to_string(bytes));
}

void RecordingOwner::endUpload(Upload* upload) {
    ended++;
    if (!letGo || upload != held) return;
    held = nullptr;
    upload->setPaused(true);
    upload->detachOwner();
    upload->release();
}

void RecordingOwner::hold(Upload* upload) {
    held = upload;
    upload->addRef();
}

}  // namespace support
