#include "v4ada/file/fs_listing.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>

namespace {

constexpr size_t kListingRoom = 256;

FileStatus status_from(const struct stat& st) {
    FileStatus out;
    out.modified = static_cast<int64_t>(st.st_mtime);
    out.accessed = static_cast<int64_t>(st.st_atime);
    out.changed = static_cast<int64_t>(st.st_ctime);
    out.directory = S_ISDIR(st.st_mode) ? 1 : 0;
    out.size = static_cast<int64_t>(st.st_size);
    out.kind = S_ISREG(st.st_mode) ? FileKind::kRegular : S_ISDIR(st.st_mode) ? FileKind::kDirectory : FileKind::kOther;
    return out;
}

int64_t column_of(const FileStatus& status, int column) {
    switch (column) {
    case 0: return status.modified;
    case 1: return status.accessed;
    case 2: return status.changed;
    default: return status.size;
    }
}

}  // namespace

DirListing::DirListing() {
    files.reserve(kListingRoom);
    dirs.reserve(kListingRoom);
    dirIsLink.reserve(kListingRoom);
    status.reserve(kListingRoom);
}

bool fs_status(const char* path, FileStatus& out) {
    out.directory = 0;
    struct stat st;
    if (path == nullptr || ::stat(path, &st) != 0) return false;
    out = status_from(st);
    return true;
}

bool fs_is_listable(const char* path) {
    if (path == nullptr) return false;
    DIR* dir = ::opendir(path);
    if (dir == nullptr) return false;
    ::closedir(dir);
    return true;
}

bool fs_list_directory(const char* path, DirListing& listing, bool withStatus) {
    if (path == nullptr) return false;
    DIR* dir = ::opendir(path);
    if (dir == nullptr) return false;
    int fd = ::dirfd(dir);
    while (struct dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        struct stat st;
        bool known = ::fstatat(fd, name, &st, 0) == 0;
        if (known && S_ISDIR(st.st_mode)) {
            struct stat own;
            bool link = ::fstatat(fd, name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
            listing.dirs.emplace_back(name);
            listing.dirIsLink.push_back(link ? 1 : 0);
            continue;
        }
        listing.files.emplace_back(name);
        if (withStatus) {
            // A dangling link or an entry removed meanwhile has no status.
            listing.status.push_back(known ? status_from(st) : FileStatus());
        }
    }
    ::closedir(dir);
    return true;
}

void fs_sort_listing(DirListing& listing, int column) {
    size_t count = listing.status.size();
    if (count < 2 || count != listing.files.size()) return;
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return column_of(listing.status[a], column) < column_of(listing.status[b], column);
    });
    std::vector<OwnedString> files;
    std::vector<FileStatus> status;
    files.reserve(count);
    status.reserve(count);
    for (size_t index : order) {
        files.push_back(std::move(listing.files[index]));
        status.push_back(listing.status[index]);
    }
    listing.files = std::move(files);
    listing.status = std::move(status);
}
