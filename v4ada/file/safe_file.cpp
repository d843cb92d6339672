#include "v4ada/file/safe_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "v4ada/file/file_copy.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/path_lock.h"
#include "v4ada/file/unix_file.h"

namespace {

i4_unix_file_class* plain_factory(int fd) { return new i4_unix_file_class(fd); }

void sync_directory_of(const char* path) {
    const char* slash = std::strrchr(path, '/');
    std::string dir = slash == nullptr ? "." : std::string(path, slash - path);
    if (dir.empty()) dir.assign(1, '/');
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

i4_safe_file::i4_safe_file(const char* path, int flags) : i4_safe_file(path, flags, plain_factory) {}

i4_safe_file::i4_safe_file(const char* path, int flags, SafeFileFactory factory)
    : name_(path), backupName_(static_cast<const char*>(nullptr)), tempName_(static_cast<const char*>(nullptr)) {
    if (path == nullptr) return;
    backupName_.format("%s.bak", path);
    tempName_.format("%s.tmp", path);
    lockKey_ = path_lock_key(path);
    path_lock_acquire(lockKey_);
    locked_ = true;
    recoverBackup();
    if (flags & kFsWrite) {
        writer_ = true;
        openWriter(flags, factory ? factory : plain_factory);
        if (file_ == nullptr) unlock();
    } else {
        openReader(flags);
        unlock();
    }
}

i4_safe_file::~i4_safe_file() {
    if (writer_) {
        discard();
    } else {
        delete file_;
        file_ = nullptr;
    }
    unlock();
}

i4_file* i4_safe_file::file() const { return file_; }

void i4_safe_file::unlock() {
    if (!locked_) return;
    locked_ = false;
    path_lock_release(lockKey_);
}

void i4_safe_file::recoverBackup() {
    struct stat st;
    if (::lstat(name_.c_str(), &st) == 0 || errno != ENOENT) return;
    if (::lstat(backupName_.c_str(), &st) != 0) return;
    // rename never replaces a name that appeared meanwhile with link().
    if (::link(backupName_.c_str(), name_.c_str()) == 0) {
        ::unlink(backupName_.c_str());
    } else if (errno != EEXIST) {
        ::rename(backupName_.c_str(), name_.c_str());
    }
    sync_directory_of(name_.c_str());
}

void i4_safe_file::openReader(int flags) { file_ = fs_open_unix(name_.c_str(), flags); }

void i4_safe_file::openWriter(int flags, SafeFileFactory factory) {
    // A temporary left by a save that was killed holds nothing of value.
    ::unlink(tempName_.c_str());
    int mode = O_CREAT | O_EXCL | O_CLOEXEC | ((flags & kFsRead) ? O_RDWR : O_WRONLY);
    int fd;
    do {
        fd = ::open(tempName_.c_str(), mode, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return;
    file_ = factory(fd);

    struct stat st;
    if (::stat(name_.c_str(), &st) == 0) {
        // The new file keeps the old one's permissions, and its owner can
        // always read and write it.
        if (::fchmod(fd, (st.st_mode & 07777) | S_IRUSR | S_IWUSR) != 0) {
            // Keep the default mode.
        }
        if (!(flags & kFsTruncate)) {
            // Without truncation the writer changes the old content.
            std::unique_ptr<i4_unix_file_class> old(fs_open_unix(name_.c_str(), kFsRead));
            bool copied = old && fs_copy_bytes(old.get(), file_, old->size());
            if (!copied) {
                discard();
                return;
            }
            if (flags & kFsAppend) {
                int current = ::fcntl(fd, F_GETFL);
                if (current < 0 || ::fcntl(fd, F_SETFL, current | O_APPEND) != 0) {
                    discard();
                    return;
                }
            } else {
                file_->seek(0);
            }
        }
    }
}

void i4_safe_file::discard() {
    if (file_ == nullptr) return;
    delete file_;
    file_ = nullptr;
    ::unlink(tempName_.c_str());
}

bool i4_safe_file::close() {
    if (file_ == nullptr) {
        unlock();
        return false;
    }
    if (!writer_) {
        delete file_;
        file_ = nullptr;
        return true;
    }
    file_->flush();
    bool ok = !file_->writeFailed() && file_->sync();
    ok = file_->close() && ok;
    ok = ok && ::rename(tempName_.c_str(), name_.c_str()) == 0;
    if (ok) {
        delete file_;
        file_ = nullptr;
        sync_directory_of(name_.c_str());
    } else {
        discard();
    }
    unlock();
    return ok;
}

bool i4_safe_write(const char* path, const void* bytes, i4_pos length) {
    if (length > INT32_MAX || (length > 0 && bytes == nullptr)) return false;
    i4_safe_file out(path, kFsWrite | kFsTruncate);
    i4_file* file = out.file();
    if (file == nullptr) return false;
    int n = static_cast<int>(length);
    if (n > 0 && file->write(bytes, n) != n) return false;
    return out.close();
}
