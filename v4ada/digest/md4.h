// MD4 message digest (RFC 1320): file hashes, part and crumb hashes and
// keyword hashes are all MD4.
#pragma once

#include <cstddef>
#include <cstdint>

#include "v4ada/digest/digest_blocks.h"
#include "v4ada/file/file.h"

constexpr int kMd4DigestSize = 16;

class Md4Context {
public:
    Md4Context() { init(); }
    ~Md4Context();

    void init();
    // Any number of bytes in any number of calls.
    void update(const void* data, size_t count);
    // Writes the 16-byte digest, then zeroes the context (init before reuse).
    void final(uint8_t* out);

private:
    // The 64-byte blocks one after another; the state stays in registers.
    void transform(const uint8_t* blocks, size_t count);

    uint32_t state_[4];
    DigestBlocks blocks_;
};

// MD4 of the text's bytes, terminator excluded; a null text counts as empty.
void md4String(uint8_t* out, const char* text);

// MD4 of the bytes [from, to) of the stream. False when the seek does not
// land on `from`, when to < from, or when the stream ends before `to`;
// `out` is then left as it was.
bool md4FileRange(uint8_t* out, i4_file* file, i4_pos from, i4_pos to);
