#include "v4ada/digest/md4.h"

#include <cstring>
#include <memory>

#include "v4ada/digest/hash_input.h"

namespace {

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (x & z) | (y & z); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }

}  // namespace

Md4Context::~Md4Context() = default;

void Md4Context::init() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    blocks_.reset();
}

void Md4Context::transform(const uint8_t* block) {
    uint32_t x[16];
    for (int i = 0; i < 16; i++) x[i] = digest_load_le32(block + 4 * i);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

    static const int r1[4] = {3, 7, 11, 19};
    for (int i = 0; i < 16; i += 4) {
        a = digest_rotl(a + F(b, c, d) + x[i], r1[0]);
        d = digest_rotl(d + F(a, b, c) + x[i + 1], r1[1]);
        c = digest_rotl(c + F(d, a, b) + x[i + 2], r1[2]);
        b = digest_rotl(b + F(c, d, a) + x[i + 3], r1[3]);
    }
    static const int r2[4] = {3, 5, 9, 13};
    for (int i = 0; i < 4; i++) {
        a = digest_rotl(a + G(b, c, d) + x[i] + 0x5a827999, r2[0]);
        d = digest_rotl(d + G(a, b, c) + x[i + 4] + 0x5a827999, r2[1]);
        c = digest_rotl(c + G(d, a, b) + x[i + 8] + 0x5a827999, r2[2]);
        b = digest_rotl(b + G(c, d, a) + x[i + 12] + 0x5a827999, r2[3]);
    }
    static const int r3[4] = {3, 9, 11, 15};
    static const int order[4] = {0, 2, 1, 3};
    for (int k = 0; k < 4; k++) {
        int i = order[k];
        a = digest_rotl(a + H(b, c, d) + x[i] + 0x6ed9eba1, r3[0]);
        d = digest_rotl(d + H(a, b, c) + x[i + 8] + 0x6ed9eba1, r3[1]);
        c = digest_rotl(c + H(d, a, b) + x[i + 4] + 0x6ed9eba1, r3[2]);
        b = digest_rotl(b + H(c, d, a) + x[i + 12] + 0x6ed9eba1, r3[3]);
    }

    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md4Context::update(const void* data, size_t count) {
    blocks_.update(data, count, [this](const uint8_t* block) { transform(block); });
}

void Md4Context::final(uint8_t* out) {
    blocks_.finish([this](const uint8_t* block) { transform(block); });
    for (int i = 0; i < 4; i++) digest_store_le32(out + 4 * i, state_[i]);
    std::memset(state_, 0, sizeof state_);
    blocks_.reset();
}

void md4String(uint8_t* out, const char* text) {
    Md4Context context;
    if (text != nullptr) context.update(text, std::strlen(text));
    context.final(out);
}

bool md4FileRange(uint8_t* out, i4_file* file, i4_pos from, i4_pos to) {
    if (file == nullptr || to < from) return false;
    if (file->seek(from) != from) return false;

    std::unique_ptr<uint8_t[]> block(new uint8_t[kHashBlockSize]);
    Md4Context context;
    i4_pos left = to - from;
    while (left > 0) {
        int want = left < kHashBlockSize ? static_cast<int>(left) : kHashBlockSize;
        if (!readFully(file, block.get(), want)) return false;
        context.update(block.get(), static_cast<size_t>(want));
        left -= static_cast<i4_pos>(want);
    }
    context.final(out);
    return true;
}
