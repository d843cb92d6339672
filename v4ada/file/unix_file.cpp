#include "v4ada/file/unix_file.h"

#include <cerrno>
#include <cstdint>
#include <sys/stat.h>
#include <unistd.h>

i4_unix_file_class::i4_unix_file_class(int fd) : fd_(fd) {}

i4_unix_file_class::~i4_unix_file_class() { close(); }

bool i4_unix_file_class::close() {
    if (fd_ < 0) return true;
    int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
}

int i4_unix_file_class::read(void* buffer, int n) {
    if (n <= 0 || fd_ < 0) return 0;
    for (;;) {
        ssize_t got = ::read(fd_, buffer, static_cast<size_t>(n));
        if (got >= 0) return static_cast<int>(got);
        if (errno != EINTR) return -1;
    }
}

int i4_unix_file_class::readAt(void* buffer, int n, i4_pos offset) {
    if (n <= 0 || fd_ < 0 || offset > static_cast<i4_pos>(INT64_MAX)) return 0;
    for (;;) {
        ssize_t got = ::pread(fd_, buffer, static_cast<size_t>(n), static_cast<off_t>(offset));
        if (got >= 0) return static_cast<int>(got);
        if (errno != EINTR) return -1;
    }
}

int i4_unix_file_class::writeAt(const void* buffer, int n, i4_pos offset) {
    if (n < 0 || fd_ < 0 || offset > static_cast<i4_pos>(INT64_MAX) - static_cast<i4_pos>(n)) {
        writeFailed_ = true;
        return -1;
    }
    const char* bytes = static_cast<const char*>(buffer);
    int done = 0;
    while (done < n) {
        ssize_t put = ::pwrite(fd_, bytes + done, static_cast<size_t>(n - done), static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            writeFailed_ = true;
            return -1;
        }
        done += static_cast<int>(put);
    }
    return done;
}

long i4_unix_file_class::writeOnce(const void* buffer, unsigned long n) {
    return ::write(fd_, buffer, n);
}

int i4_unix_file_class::write(const void* buffer, int n) {
    if (n < 0) return -1;
    if (fd_ < 0) {
        writeFailed_ = true;
        return -1;
    }
    const char* bytes = static_cast<const char*>(buffer);
    int done = 0;
    while (done < n) {
        long put = writeOnce(bytes + done, static_cast<unsigned long>(n - done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            writeFailed_ = true;
            return done > 0 ? done : -1;
        }
        done += static_cast<int>(put);
    }
    return done;
}

i4_pos i4_unix_file_class::seek(i4_pos position) {
    if (position > static_cast<i4_pos>(INT64_MAX)) return tell();
    off_t at = ::lseek(fd_, static_cast<off_t>(position), SEEK_SET);
    return at < 0 ? tell() : static_cast<i4_pos>(at);
}

i4_pos i4_unix_file_class::tell() {
    off_t at = ::lseek(fd_, 0, SEEK_CUR);
    return at < 0 ? 0 : static_cast<i4_pos>(at);
}

i4_pos i4_unix_file_class::size() {
    struct stat st;
    if (::fstat(fd_, &st) != 0 || st.st_size < 0) return 0;
    return static_cast<i4_pos>(st.st_size);
}

bool i4_unix_file_class::sync() {
    if (fd_ < 0) return false;
    return ::fsync(fd_) == 0;
}

bool i4_unix_file_class::syncData() {
    if (fd_ < 0) return false;
    return ::fdatasync(fd_) == 0;
}
