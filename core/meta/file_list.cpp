#include "core/meta/file_list.h"

namespace {

template <typename Match>
FileMeta* firstMatching(LLsafe* list, Match match) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(list, &cursor)) {
        auto* record = static_cast<FileMeta*>(element);
        if (match(record)) return record;
    }
    return nullptr;
}

}  // namespace

bool FileList::add(FileMeta* record) {
    if (!record) return false;
    LLsafeGuard hold(list());
    const UniqueID& hash = record->fileHash();
    if (firstMatching(list(), [&hash](FileMeta* entry) { return entry->fileHash().equals(hash); })) return true;
    list()->LL::append(record);
    return false;
}

FileMeta* FileList::findByHash(const uint8_t* hash) {
    if (!hash) return nullptr;
    LLsafeGuard hold(list());
    return firstMatching(list(), [hash](FileMeta* entry) { return entry->fileHash().equals(hash); });
}

FileMeta* FileList::findBySizeTimeName(uint32_t size, uint32_t time, const char* name) {
    LLsafeGuard hold(list());
    return firstMatching(list(), [&](FileMeta* entry) { return entry->matches(size, time, name); });
}
