#include "v4ada/digest/hash_input.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A read-only stream over a POSIX descriptor, closed on delete.
class HashInputFile : public i4_file {
public:
    explicit HashInputFile(int fd) : fd_(fd) {}
    ~HashInputFile() override { ::close(fd_); }

    int read(void* buffer, int n) override {
        if (n <= 0) return 0;
        for (;;) {
            ssize_t got = ::read(fd_, buffer, static_cast<size_t>(n));
            if (got >= 0) return static_cast<int>(got);
            if (errno != EINTR) return -1;
        }
    }
    int write(const void*, int) override { return -1; }
    i4_pos seek(i4_pos position) override {
        off_t at = ::lseek(fd_, static_cast<off_t>(position), SEEK_SET);
        return at < 0 ? tell() : static_cast<i4_pos>(at);
    }
    i4_pos size() override {
        struct stat st;
        if (::fstat(fd_, &st) != 0 || st.st_size < 0) return 0;
        return static_cast<i4_pos>(st.st_size);
    }
    i4_pos tell() override {
        off_t at = ::lseek(fd_, 0, SEEK_CUR);
        return at < 0 ? 0 : static_cast<i4_pos>(at);
    }

private:
    int fd_;
};

}  // namespace

i4_file* openHashInput(const char* path) {
    if (path == nullptr) return nullptr;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return new HashInputFile(fd);
}

bool readFully(i4_file* file, void* buffer, int n) {
    uint8_t* at = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        int got = file->read(at, n);
        if (got <= 0) return false;
        if (got > n) return false;
        at += got;
        n -= got;
    }
    return true;
}
