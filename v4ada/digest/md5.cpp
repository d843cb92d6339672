#include "v4ada/digest/md5.h"

#include <cstring>
#include <memory>

#include "v4ada/digest/hash_input.h"

namespace {

// Per-step shift amounts and sine-derived constants of RFC 1321.
const int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                        5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                        4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                        6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

}  // namespace

void Md5Context::init() {
    blocks_.reset();
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
}

void Md5Context::transform(const uint8_t* block) {
    uint32_t x[16];
    for (int i = 0; i < 16; i++) x[i] = digest_load_le32(block + 4 * i);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

    for (int i = 0; i < 64; i++) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t next = b + digest_rotl(a + f + kSine[i] + x[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }

    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5Context::update(const void* data, long length) {
    if (length <= 0) return;
    blocks_.update(data, static_cast<size_t>(length), [this](const uint8_t* blocks, size_t count) {
        for (size_t i = 0; i < count; i++) transform(blocks + 64 * i);
    });
}

void Md5Context::final(uint8_t* out) {
    blocks_.finish([this](const uint8_t* blocks, size_t count) {
        for (size_t i = 0; i < count; i++) transform(blocks + 64 * i);
    });
    for (int i = 0; i < 4; i++) digest_store_le32(out + 4 * i, state_[i]);
    std::memset(state_, 0, sizeof state_);
    blocks_.reset();
}

bool md5File(const char* path, char* out) {
    std::unique_ptr<i4_file> file(openHashInput(path));
    if (!file) return false;

    std::unique_ptr<uint8_t[]> block(new uint8_t[kHashBlockSize]);
    Md5Context context;
    for (;;) {
        int got = file->read(block.get(), kHashBlockSize);
        if (got < 0) return false;
        if (got == 0) break;
        context.update(block.get(), got);
    }

    uint8_t digest[kMd5DigestSize];
    context.final(digest);
    static const char digits[] = "0123456789abcdef";
    for (int k = 0; k < kMd5DigestSize; k++) {
        out[2 * k] = digits[digest[k] >> 4];
        out[2 * k + 1] = digits[digest[k] & 0x0F];
    }
    out[2 * kMd5DigestSize] = 0;
    return true;
}
