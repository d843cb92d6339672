#include "transfer/media/media_stream.h"

#include <cstring>
#include <limits>
#include <sys/types.h>
#include <unistd.h>

#include "v4ada/file/fs.h"

bool media_stream_size(FILE* stream, uint64_t* size) {
    if (stream == nullptr || fseeko(stream, 0, SEEK_END) != 0) return false;
    off_t end = ftello(stream);
    if (end < 0) return false;
    *size = static_cast<uint64_t>(end);
    return true;
}

size_t media_read_some_at(FILE* stream, uint64_t offset, void* buffer, size_t n) {
    if (stream == nullptr || offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return 0;
    if (fseeko(stream, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
    return n == 0 ? 0 : fread(buffer, 1, n, stream);
}

bool media_read_at(FILE* stream, uint64_t offset, void* buffer, size_t n) {
    if (n == 0) return stream != nullptr;
    return media_read_some_at(stream, offset, buffer, n) == n;
}

MediaStream::MediaStream(const char* path, const char* mode) : stream_(nullptr) {
    // Only a regular file, opened without waiting: a FIFO named like a
    // media file must not hold the reader.
    if (mode == nullptr) return;
    int fd = fs_open_regular_fd(path, std::strchr(mode, '+') != nullptr);
    if (fd < 0) return;
    stream_ = fdopen(fd, mode);
    if (stream_ == nullptr) ::close(fd);
}

MediaStream::~MediaStream() { close(); }

bool MediaStream::close() {
    if (stream_ == nullptr) return true;
    bool ok = fclose(stream_) == 0;
    stream_ = nullptr;
    return ok;
}
