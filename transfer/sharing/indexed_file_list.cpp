#include "transfer/sharing/indexed_file_list.h"

#include <algorithm>
#include <cstring>

#include "core/meta/meta_messages.h"
#include "core/meta/read_limits.h"
#include "transfer/sharing/file_reports.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/error/error.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/file/safe_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

constexpr int kSaveGrowStep = 64 * 1024;

void putU32(std::string& key, uint32_t value) {
    for (int i = 0; i < 4; i++) key.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

IndexedFileList::~IndexedFileList() { clear(); }

std::string IndexedFileList::hashKey(const UniqueID& hash) {
    return std::string(reinterpret_cast<const char*>(hash.bytes()), kUniqueIdSize);
}

std::string IndexedFileList::stampKey(FileMeta* record) {
    std::string key;
    putU32(key, record->size());
    putU32(key, record->modificationTime());
    key.append(record->name());
    return key;
}

void IndexedFileList::insert(Index& index, const std::string& key, FileMeta* record) { index[key].push_back(record); }

void IndexedFileList::erase(Index& index, const std::string& key, FileMeta* record) {
    auto found = index.find(key);
    if (found == index.end()) return;
    std::vector<FileMeta*>& records = found->second;
    records.erase(std::remove(records.begin(), records.end(), record), records.end());
    if (records.empty()) index.erase(found);
}

void IndexedFileList::indexLocked(FileMeta* record) {
    insert(byHash_, hashKey(record->fileHash()), record);
    insert(byStamp_, stampKey(record), record);
}

void IndexedFileList::unindexLocked(FileMeta* record) {
    erase(byHash_, hashKey(record->fileHash()), record);
    erase(byStamp_, stampKey(record), record);
}

FileMeta* IndexedFileList::firstLocked(const UniqueID& hash) {
    auto found = byHash_.find(hashKey(hash));
    return found == byHash_.end() ? nullptr : found->second.front();
}

int IndexedFileList::count() {
    LLsafeGuard hold(files_.list());
    return files_.list()->LL::count();
}

bool IndexedFileList::add(FileMeta* record) {
    if (!record) return false;
    LLsafeGuard hold(files_.list());
    if (firstLocked(record->fileHash())) return false;
    files_.list()->LL::append(record);
    indexLocked(record);
    return true;
}

void IndexedFileList::append(FileMeta* record) {
    if (!record) return;
    LLsafeGuard hold(files_.list());
    files_.list()->LL::append(record);
    indexLocked(record);
}

FileMeta* IndexedFileList::findByHash(const UniqueID& hash) {
    LLsafeGuard hold(files_.list());
    return firstLocked(hash);
}

FileMeta* IndexedFileList::copyBySizeTimeName(uint32_t size, uint32_t time, const char* name) {
    std::string key;
    putU32(key, size);
    putU32(key, time);
    // A record keeps its name cut as the name tag cuts it (known.met holds
    // no more): a longer name is compared by that much, or the file would
    // never be known again and be read in full at every start.
    if (name) key.append(name, strnlen(name, kTagStringReadMax));
    LLsafeGuard hold(files_.list());
    auto found = byStamp_.find(key);
    if (found == byStamp_.end()) return nullptr;
    auto* copy = new FileMeta();
    copy->copyFrom(found->second.front());
    return copy;
}

bool IndexedFileList::edit(const UniqueID& hash, const std::function<void(FileMeta*)>& change) {
    LLsafeGuard hold(files_.list());
    FileMeta* record = firstLocked(hash);
    if (!record) return false;
    unindexLocked(record);
    change(record);
    indexLocked(record);
    return true;
}

FileMeta* IndexedFileList::take(const UniqueID& hash) {
    LLsafeGuard hold(files_.list());
    FileMeta* record = firstLocked(hash);
    if (!record) return nullptr;
    unindexLocked(record);
    files_.list()->LL::remove(record);
    return record;
}

void IndexedFileList::clear() {
    LLsafeGuard hold(files_.list());
    byHash_.clear();
    byStamp_.clear();
    while (void* element = files_.list()->LL::removeAt(0)) delete static_cast<FileMeta*>(element);
}

void IndexedFileList::adopt(FileList& read) {
    LLsafeGuard hold(read.list());
    while (void* element = read.list()->LL::removeAt(0)) append(static_cast<FileMeta*>(element));
}

MetaListLoad IndexedFileList::load(const char* path) {
    // A scratch list reads the file; its records then join under the lock.
    FileList read;
    MetaListLoad result = read.load(path);
    adopt(read);
    return result;
}

bool IndexedFileList::read(i4_file* file) {
    FileList read;
    bool whole;
    try {
        whole = read.fromDisk(file);
    } catch (const i4_err&) {
        whole = false;
    }
    adopt(read);
    return whole;
}

bool IndexedFileList::save(const char* path) {
    i4_ram_file_class out(nullptr, 0, kSaveGrowStep);
    bool built;
    std::vector<std::string> left;
    try {
        LLsafeGuard hold(files_.list());
        built = out.write_8(kMetaListVersion) == 1 && out.write_32(0) == 4;
        uint32_t written = 0;
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(files_.list(), &cursor)) {
            auto* record = static_cast<FileMeta*>(element);
            // The reader refuses such a record, and the whole file with it.
            if (record->tagCount() > kMetaMaxTags) {
                left.emplace_back(record->name());
                continue;
            }
            if (!record->toDisk(&out)) {
                metaPrintRaw("ERROR: Serializable::saveList()\n");
                built = false;
            }
            written++;
        }
        built = out.seek(1) == 1 && out.write_32(written) == 4 && built;
    } catch (const i4_err&) {
        built = false;
    }
    for (const std::string& name : left) metaPrint(kTooManyTagsText, kMetaMaxTags, path ? path : "", name.c_str());
    bool saved = built && i4_safe_write(path, out.data(), out.size());
    i4_free(out.data());
    if (!saved) reportNotSaved(path);
    return saved;
}
