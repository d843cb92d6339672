#include "transfer/sharing/share_list.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "core/meta/file_meta.h"
#include "core/meta/meta_messages.h"
#include "core/strings/string_table.h"
#include "transfer/sharing/file_reports.h"
#include "v4ada/error/error.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/file/safe_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

constexpr int kSaveGrowStep = 4096;

int lengthOf(const char* text) { return text ? static_cast<int>(strlen(text)) : 0; }

}  // namespace

ShareList::ShareList() : incomplete_(kIncompleteFilesName) {}

ShareList::~ShareList() {
    SysMutexGuard guard(&mutex_);
    freeRetiredLocked();
    while (void* element = directories_.removeAt(0)) delete static_cast<ShareDirectory*>(element);
    holders_.clear();
    byPath_.clear();
    places_.clear();
}

bool ShareList::samePath(const char* a, const char* b) {
    int la = lengthOf(a);
    int lb = lengthOf(b);
    if (la < lb) {
        std::swap(a, b);
        std::swap(la, lb);
    }
    // a is now the longer (or equally long) text.
    if (la - lb > 1) return false;
    if (la != lb && a[la - 1] != '/') return false;
    return lb == 0 || memcmp(a, b, static_cast<size_t>(lb)) == 0;
}

ShareDirectory* ShareList::findLocked(const char* path) {
    // samePath(d, p) holds for d equal to p, to p with a '/' added, and
    // to p without its last byte when that is a '/'.
    std::string text = path ? path : "";
    std::string candidates[3] = {text, text + '/', std::string()};
    int count = 2;
    if (!text.empty() && text.back() == '/') candidates[count++] = text.substr(0, text.size() - 1);
    ShareDirectory* first = nullptr;
    uint64_t firstPlace = 0;
    for (int i = 0; i < count; i++) {
        auto found = byPath_.find(candidates[i]);
        if (found == byPath_.end() || found->second.empty()) continue;
        ShareDirectory* directory = found->second.front();
        uint64_t place = places_[directory];
        if (!first || place < firstPlace) {
            first = directory;
            firstPlace = place;
        }
    }
    return first;
}

void ShareList::appendLocked(ShareDirectory* directory) {
    directories_.append(directory);
    const char* path = directory->path.c_str();
    byPath_[path ? path : ""].push_back(directory);
    places_[directory] = nextPlace_++;
}

void ShareList::unlinkDirectoryLocked(ShareDirectory* directory) {
    directories_.remove(directory);
    const char* path = directory->path.c_str();
    auto found = byPath_.find(path ? path : "");
    if (found != byPath_.end()) {
        std::vector<ShareDirectory*>& same = found->second;
        same.erase(std::find(same.begin(), same.end(), directory));
        if (same.empty()) byPath_.erase(found);
    }
    places_.erase(directory);
}

void ShareList::forgetFilesLocked(ShareDirectory* directory) {
    LLsafeGuard hold(directory->files.list());
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(directory->files.list(), &cursor)) {
        auto found = holders_.find(static_cast<FileMeta*>(element));
        if (found != holders_.end() && found->second == directory) holders_.erase(found);
    }
}

void ShareList::deleteLocked(ShareDirectory* directory) {
    forgetFilesLocked(directory);
    delete directory;
}

void ShareList::freeRetiredLocked() {
    for (ShareDirectory* directory : retired_) deleteLocked(directory);
    retired_.clear();
}

// --- share.dat ---------------------------------------------------------------

bool ShareList::read(i4_file* file, const char* incomingDir) {
    bool namedIncoming = false;
    bool whole = true;
    try {
        while (file && file->tell() < file->size()) {
            OwnedString entry(file);
            if (samePath(entry.c_str(), incomingDir)) namedIncoming = true;
            if (!entry.isEmpty()) addDirectory(entry.c_str(), true);
        }
    } catch (const i4_err&) {
        metaDebug("%s", kShareListLoadError);
        whole = false;
    }
    if (!namedIncoming) addDirectory(incomingDir, false);
    return whole;
}

bool ShareList::load(const char* path, const char* incomingDir) {
    bool whole;
    {
        i4_safe_file in(path, kFsRead);
        if (i4_file* file = in.file()) {
            whole = read(file, incomingDir);
            in.close();
        } else {
            // Missing is no fault; a share.dat that cannot be opened is.
            struct stat record;
            whole = !path || (fs_stat_raw(path, &record) != 0 && errno == ENOENT);
            read(nullptr, incomingDir);
        }
    }
    if (!whole) keepAsideUnreadable(path);
    return whole;
}

bool ShareList::save(const char* path) {
    i4_ram_file_class out(nullptr, 0, kSaveGrowStep);
    bool built = true;
    {
        SysMutexGuard guard(&mutex_);
        try {
            LLNode* cursor = nullptr;
            while (void* element = LL::walk(&directories_, &cursor))
                static_cast<ShareDirectory*>(element)->path.write(&out);
        } catch (const i4_err&) {
            built = false;
        }
    }
    bool saved = built && i4_safe_write(path, out.data(), out.size());
    i4_free(out.data());
    if (!saved) {
        metaDebug("%s", kShareListSaveError);
        reportNotSaved(path);
    }
    return saved;
}

// --- directories -------------------------------------------------------------

bool ShareList::addDirectory(const char* path, bool check) {
    if (check && !fs_is_listable(path)) return false;
    SysMutexGuard guard(&mutex_);
    freeRetiredLocked();
    if (check && findLocked(path)) {
        metaPrintRaw("%s", kDirectoryAlreadyAdded);
        return false;
    }
    appendLocked(new ShareDirectory(path));
    return true;
}

void ShareList::setDirectories(const std::vector<OwnedString>& paths, const char* incomingDir) {
    clear();
    bool namedIncoming = false;
    for (const OwnedString& path : paths) {
        if (samePath(path.c_str(), incomingDir)) namedIncoming = true;
        addDirectory(path.c_str(), true);
    }
    if (!namedIncoming) addDirectory(incomingDir, false);
}

bool ShareList::removeDirectory(const char* path) {
    SysMutexGuard guard(&mutex_);
    freeRetiredLocked();
    ShareDirectory* directory = findLocked(path);
    if (!directory) return false;
    unlinkDirectoryLocked(directory);
    deleteLocked(directory);
    return true;
}

bool ShareList::dropDirectory(const char* path) {
    SysMutexGuard guard(&mutex_);
    ShareDirectory* directory = findLocked(path);
    if (!directory) return false;
    unlinkDirectoryLocked(directory);
    retired_.push_back(directory);
    return true;
}

void ShareList::clear() {
    SysMutexGuard guard(&mutex_);
    freeRetiredLocked();
    while (void* element = directories_.removeAt(0)) deleteLocked(static_cast<ShareDirectory*>(element));
    byPath_.clear();
    places_.clear();
    incomplete_.files.unlinkAll();
    holders_.clear();
}

void ShareList::clearFiles() {
    SysMutexGuard guard(&mutex_);
    freeRetiredLocked();
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&directories_, &cursor)) static_cast<ShareDirectory*>(element)->files.unlinkAll();
    incomplete_.files.unlinkAll();
    holders_.clear();
}

void ShareList::directoryPaths(std::vector<OwnedString>& out) {
    SysMutexGuard guard(&mutex_);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&directories_, &cursor)) out.push_back(static_cast<ShareDirectory*>(element)->path);
}

int ShareList::directoryCount() {
    SysMutexGuard guard(&mutex_);
    return directories_.count();
}

FileList* ShareList::directoryFiles(const char* name) {
    if (name && strcmp(name, kIncompleteFilesName) == 0) return &incomplete_.files;
    SysMutexGuard guard(&mutex_);
    ShareDirectory* directory = findLocked(name);
    return directory ? &directory->files : nullptr;
}

// --- records -----------------------------------------------------------------

void ShareList::unlinkLocked(FileMeta* record) {
    auto found = holders_.find(record);
    if (found == holders_.end()) return;
    found->second->files.list()->remove(record);
    holders_.erase(found);
}

void ShareList::addFile(const char* directory, FileMeta* record) {
    if (!record) {
        metaPrintRaw("%s", kNullSharedRecord);
        return;
    }
    SysMutexGuard guard(&mutex_);
    freeRetiredLocked();
    ShareDirectory* target = nullptr;
    if (directory && strcmp(directory, kIncompleteFilesName) == 0) {
        target = &incomplete_;
    } else {
        target = findLocked(directory);
        if (!target) {
            OwnedString text = uiText(kAddingDirsFromAddKey, kAddingDirsFromAddDefault);
            metaPrint("%s %s", text.c_str(), directory ? directory : "");
            target = new ShareDirectory(directory);
            appendLocked(target);
        }
    }
    auto held = holders_.find(record);
    if (held != holders_.end()) {
        if (held->second == target) return;
        unlinkLocked(record);
    }
    target->files.MetaList::add(record);
    holders_[record] = target;
}

void ShareList::removeFile(FileMeta* record) {
    if (!record) return;
    SysMutexGuard guard(&mutex_);
    unlinkLocked(record);
}

OwnedString ShareList::holderOf(FileMeta* record) {
    SysMutexGuard guard(&mutex_);
    auto found = holders_.find(record);
    return found == holders_.end() ? OwnedString(static_cast<const char*>(nullptr)) : found->second->path;
}
