// How the media readers take bytes: positioned reads from a standard byte
// stream (sizes and offsets 64-bit; a read delivers every byte asked for
// or fails) and 32-bit words of either byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

inline uint32_t media_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

inline uint32_t media_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The stream's size from its end position; false when it cannot be taken.
bool media_stream_size(FILE* stream, uint64_t* size);

// Reads exactly n bytes at the offset; false on a seek error or a short read.
bool media_read_at(FILE* stream, uint64_t offset, void* buffer, size_t n);

// Reads up to n bytes at the offset; the count read (0 on a seek error).
size_t media_read_some_at(FILE* stream, uint64_t offset, void* buffer, size_t n);

// An existing regular file opened for raw bytes ("rb", or "r+b" to write
// too), closed when it goes out of scope; anything else (a FIFO, a
// directory, a missing file) leaves it null.
class MediaStream {
public:
    explicit MediaStream(const char* path, const char* mode = "rb");
    ~MediaStream();
    MediaStream(const MediaStream&) = delete;
    MediaStream& operator=(const MediaStream&) = delete;

    FILE* get() const { return stream_; }
    // Closes now; false when the close (and so a buffered write) failed.
    bool close();

private:
    FILE* stream_;
};
