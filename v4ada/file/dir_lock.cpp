#include "v4ada/file/dir_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

DirectoryLock::Result DirectoryLock::acquire(const char* dir, const char* fileName) {
    release();
    path_.format("%s/%s", dir ? dir : ".", fileName ? fileName : "");
    reason_ = "";
    int fd;
    do {
        fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        reason_ = std::strerror(errno);
        return Result::kFailed;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        int error = errno;
        ::close(fd);
        reason_ = std::strerror(error);
        return error == EWOULDBLOCK ? Result::kHeldElsewhere : Result::kFailed;
    }
    fd_ = fd;
    return Result::kLocked;
}

void DirectoryLock::release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}
