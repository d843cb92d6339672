#include "core/filter/filter_master.h"

#include "core/filter/filter_lines.h"
#include "core/filter/filter_record.h"
#include "v4ada/file/fs.h"
#include "v4ada/string/cstring.h"

namespace {

// Block size of the reads of filters.txt.
constexpr int kReadBlock = 4096;

}  // namespace

void FilterMaster::addLineLocked(const char* text, int length) {
    if (!text || length <= 0) return;
    lines_.emplace_back(text, length);
    OwnedString needle(text, length);
    needle.toLower();
    needles_.push_back(std::move(needle));
}

void FilterMaster::addLine(const char* text) {
    SysMutexGuard guard(&mutex_);
    addLineLocked(text, i4_strlen(text));
}

void FilterMaster::clear() {
    SysMutexGuard guard(&mutex_);
    lines_.clear();
    needles_.clear();
}

bool FilterMaster::load(const char* path) {
    SysMutexGuard guard(&mutex_);
    lines_.clear();
    needles_.clear();
    path_ = path;
    i4_file* file = path ? fs_open(path, kFsRead) : nullptr;
    if (!file) return false;
    // The reader calls back within this locked scope.
    FilterLineReader reader([this](const char* text, int length) TS_NO_ANALYSIS { addLineLocked(text, length); });
    char block[kReadBlock];
    for (;;) {
        int n = file->read(block, kReadBlock);
        if (n <= 0) break;
        reader.feed(block, static_cast<size_t>(n));
    }
    reader.finish();
    delete file;
    return true;
}

void FilterMaster::loadBuffer(const char* data, size_t length) {
    SysMutexGuard guard(&mutex_);
    lines_.clear();
    needles_.clear();
    // The reader calls back within this locked scope.
    FilterLineReader reader([this](const char* text, int length) TS_NO_ANALYSIS { addLineLocked(text, length); });
    if (data) reader.feed(data, length);
    reader.finish();
}

bool FilterMaster::matchesLocked(const char* text) const {
    if (!text) return false;
    for (const OwnedString& needle : needles_)
        if (i4_strstr_lower(text, needle.c_str())) return true;
    return false;
}

bool FilterMaster::matchesText(const char* text) {
    SysMutexGuard guard(&mutex_);
    return matchesLocked(text);
}

bool FilterMaster::isFiltered(const FilterRecord& record) {
    SysMutexGuard guard(&mutex_);
    if (needles_.empty()) return false;
    int count = record.filterTagCount();
    for (int i = 0; i < count; i++)
        if (matchesLocked(record.filterTextAt(i))) return true;
    return false;
}

int FilterMaster::lineCount() {
    SysMutexGuard guard(&mutex_);
    return static_cast<int>(lines_.size());
}

OwnedString FilterMaster::line(int index) {
    SysMutexGuard guard(&mutex_);
    if (index < 0 || index >= static_cast<int>(lines_.size())) return OwnedString(static_cast<const char*>(nullptr));
    return lines_[static_cast<size_t>(index)];
}

OwnedString FilterMaster::path() {
    SysMutexGuard guard(&mutex_);
    return path_;
}
