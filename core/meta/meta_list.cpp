#include "core/meta/meta_list.h"

#include <cerrno>
#include <memory>
#include <sys/stat.h>

#include "core/meta/meta_messages.h"
#include "core/meta/read_limits.h"
#include "v4ada/error/error.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/safe_file.h"

namespace {

// Every entry takes at least a tag count.
bool countFits(int32_t count, i4_file* file) {
    return count <= kMetaListMaxEntries && static_cast<i4_pos>(count) * kMetaMinEncoded <= bytesLeft(file);
}

}  // namespace

Meta* MetaList::newElement() { return new Meta(); }

void MetaList::add(Meta* record) {
    if (record) entries_.append(record);
}

Meta* MetaList::at(int index) { return static_cast<Meta*>(entries_.at(index)); }

int MetaList::count() { return entries_.count(); }

void MetaList::clear() {
    LLsafeGuard hold(&entries_);
    while (void* element = entries_.LL::removeAt(0)) delete static_cast<Meta*>(element);
}

void MetaList::unlinkAll() { entries_.clear(); }

bool MetaList::writeEntries(i4_file* file, bool disk) {
    if (file->write_32(static_cast<uint32_t>(entries_.LL::count())) != 4) return false;
    bool ok = true;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&entries_, &cursor)) {
        auto* record = static_cast<Meta*>(element);
        if (!(disk ? record->toDisk(file) : record->toNetwork(file))) {
            metaPrintRaw(disk ? "ERROR: Serializable::saveList()\n" : "ERROR: Serializable::saveList()2\n");
            ok = false;
        }
    }
    return ok;
}

bool MetaList::toDisk(i4_file* file) {
    if (file->write_8(kMetaListVersion) != 1) return false;
    LLsafeGuard hold(&entries_);
    return writeEntries(file, true);
}

bool MetaList::toNetwork(i4_file* file) {
    LLsafeGuard hold(&entries_);
    return toNetworkLocked(file);
}

bool MetaList::toNetworkLocked(i4_file* file) { return writeEntries(file, false); }

int MetaList::wireSize() {
    LLsafeGuard hold(&entries_);
    return wireSizeLocked();
}

int MetaList::wireSizeLocked() {
    int size = static_cast<int>(kMetaMinEncoded);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&entries_, &cursor)) size += static_cast<Meta*>(element)->wireSize();
    return size;
}

bool MetaList::fromDisk(i4_file* file) {
    if (file->read_8() != kMetaListVersion) return false;
    auto count = static_cast<int32_t>(file->read_32());
    if (count > 0 && !countFits(count, file)) {
        metaPrintRaw("ERROR: MetaList::fromDisk()\n");
        return false;
    }
    for (int32_t i = 0; i < count; i++) {
        std::unique_ptr<Meta> record(newElement());
        if (!record->fromDisk(file)) {
            metaDebug("meta #:%d, n=%d\n", count, i);
            metaPrintRaw("ERROR: MetaList::fromDisk()\n");
            return false;
        }
        add(record.release());
    }
    return true;
}

bool MetaList::fromNetwork(i4_file* file) {
    try {
        auto count = static_cast<int32_t>(file->read_32());
        if (count > 0 && !countFits(count, file)) {
            metaDebug("ERROR: MetaList::fromNetwork()\n");
            return false;
        }
        for (int32_t i = 0; i < count; i++) {
            std::unique_ptr<Meta> record(newElement());
            if (!record->fromNetwork(file)) {
                metaDebug("meta #:%d, n=%d\n", count, i);
                metaDebug("ERROR: MetaList::fromNetwork()\n");
                return false;
            }
            add(record.release());
        }
        return true;
    } catch (const i4_err&) {
        return false;
    }
}

MetaListLoad MetaList::load(const char* path) {
    i4_safe_file safe(path, kFsRead);
    i4_file* file = safe.file();
    if (!file) {
        struct stat record;
        bool missing = fs_stat_raw(path, &record) != 0 && errno == ENOENT;
        return missing ? MetaListLoad::kMissing : MetaListLoad::kFailed;
    }
    bool ok;
    try {
        ok = fromDisk(file);
    } catch (const i4_err&) {
        ok = false;
    }
    safe.close();
    return ok ? MetaListLoad::kLoaded : MetaListLoad::kFailed;
}

bool MetaList::save(const char* path, bool safe) {
    if (safe) {
        i4_safe_file out(path, kFsWrite | kFsTruncate);
        i4_file* file = out.file();
        if (!file) return false;
        bool ok;
        try {
            ok = toDisk(file);
        } catch (const i4_err&) {
            ok = false;
        }
        // A writer dropped without close() keeps the old file.
        return ok && out.close();
    }
    std::unique_ptr<i4_file> file(fs_open(path, kFsWrite | kFsTruncate));
    if (!file) return false;
    try {
        return toDisk(file.get());
    } catch (const i4_err&) {
        return false;
    }
}

void MetaList::copyFrom(MetaList* other) {
    if (!other || other == this) return;
    // Copy under the other's lock, then swap in under ours: the two locks
    // are never held together.
    LL copies;
    {
        LLsafeGuard hold(&other->entries_);
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(&other->entries_, &cursor)) {
            Meta* copy = newElement();
            copyEntry(copy, static_cast<Meta*>(element));
            copies.append(copy);
        }
    }
    LL old;
    {
        LLsafeGuard hold(&entries_);
        while (void* element = entries_.LL::removeAt(0)) old.append(element);
        while (void* element = copies.removeAt(0)) entries_.LL::append(element);
    }
    while (void* element = old.removeAt(0)) delete static_cast<Meta*>(element);
}

void MetaList::copyEntry(Meta* to, const Meta* from) { to->copyFrom(from); }

void MetaList::removeAll(MetaList* other) {
    if (!other) return;
    if (other == this) {
        unlinkAll();
        return;
    }
    LLsafeGuard hold(&other->entries_);
    entries_.removeAll(&other->entries_);
}
