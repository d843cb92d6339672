// MD5 message digest (RFC 1321), used to tag media files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "v4ada/digest/digest_blocks.h"

constexpr int kMd5DigestSize = 16;

class Md5Context {
public:
    Md5Context() { init(); }

    void init();
    // A length of 0 or less does nothing.
    void update(const void* data, long length);
    // Writes the 16-byte digest, then zeroes the context.
    void final(uint8_t* out);

private:
    void transform(const uint8_t* block);

    uint32_t state_[4];
    DigestBlocks blocks_;
};

// Digest of the whole file at `path` as 32 lower-case hex digits and a
// terminator in `out` (at least 33 bytes). When the file cannot be opened
// or a read fails, `out` is left as it was and the result is false.
bool md5File(const char* path, char* out);
