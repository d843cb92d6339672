#include "v4ada/file/fs.h"

#include <cerrno>
#include <fcntl.h>
#include <cstdlib>
#include <sys/statvfs.h>
#include <unistd.h>

#include "v4ada/file/unix_file.h"

namespace {
constexpr mode_t kFileMode = 0666;
constexpr mode_t kDirMode = 0777;
}  // namespace

int fs_open_mode(int flags) {
    if (flags & kFsRead) {
        if (!(flags & kFsWrite)) return O_RDONLY;
    } else if (!(flags & kFsWrite)) {
        return O_RDONLY | O_CREAT;
    }
    int mode = ((flags & kFsRead) ? O_RDWR : O_WRONLY) | O_CREAT;
    if (flags & kFsTruncate) {
        mode |= O_TRUNC;
    } else if (flags & kFsAppend) {
        mode |= O_APPEND;
    }
    return mode;
}

i4_unix_file_class* fs_open_unix(const char* path, int flags) {
    if (path == nullptr) return nullptr;
    int fd;
    do {
        fd = ::open(path, fs_open_mode(flags) | O_CLOEXEC, kFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    return new i4_unix_file_class(fd);
}

i4_file* fs_open(const char* path, int flags) { return fs_open_unix(path, flags); }

int fs_open_regular_fd(const char* path, bool readWrite) {
    if (path == nullptr) return -1;
    int fd;
    do {
        // Non-blocking, so that the open of a FIFO without a writer returns.
        fd = ::open(path, (readWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat record;
    int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &record) != 0 || !S_ISREG(record.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

i4_file* fs_open_regular(const char* path) {
    int fd = fs_open_regular_fd(path, false);
    return fd < 0 ? nullptr : new i4_unix_file_class(fd);
}

bool fs_remove(const char* path) { return path != nullptr && ::unlink(path) == 0; }

bool fs_make_dir(const char* path) { return path != nullptr && ::mkdir(path, kDirMode) == 0; }

bool fs_remove_dir(const char* path) { return path != nullptr && ::rmdir(path) == 0; }

bool fs_current_dir(OwnedString& out) {
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr) {
        out = "";
        return false;
    }
    out = cwd;
    ::free(cwd);
    return true;
}

bool fs_change_dir(const char* path) { return path != nullptr && ::chdir(path) == 0; }

int fs_stat_raw(const char* path, struct stat* record) {
    if (path == nullptr || record == nullptr) return -1;
    return ::stat(path, record);
}

int fs_lstat_raw(const char* path, struct stat* record) {
    if (path == nullptr || record == nullptr) return -1;
    return ::lstat(path, record);
}

bool fs_truncate(const char* path, i4_pos length) {
    if (path == nullptr || length > static_cast<i4_pos>(INT64_MAX)) return false;
    return ::truncate(path, static_cast<off_t>(length)) == 0;
}

uint64_t fs_free_space(const char* path, bool* queried) {
    struct statvfs info;
    bool ok = path != nullptr && ::statvfs(path, &info) == 0;
    if (queried != nullptr) *queried = ok;
    if (!ok) return kFsFreeSpaceUnknown;
    return static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
}
