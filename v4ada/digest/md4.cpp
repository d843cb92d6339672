#include "v4ada/digest/md4.h"

#include <cstring>
#include <memory>

#include "v4ada/digest/hash_input.h"

namespace {

// (x & y) | (~x & z) and the majority (x & y) | (x & z) | (y & z). The
// terms of each never share a set bit, so they may be added: the step adds
// them one by one, which leaves the processor more to do at once.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) + (~x & z); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & y) + ((x ^ y) & z); }
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

// The 48 steps written out with constant rotations: the compiler keeps
// the four words in registers and rotates by immediates (looped rounds
// with table-driven rotations ran about a tenth slower).
#define MD4_STEP(f, a, b, c, d, x, k, s) \
    do {                                  \
        a += (x) + (k);                   \
        a += f(b, c, d);                  \
        a = digest_rotl(a, s);            \
    } while (0)

void Md4Context::transform(const uint8_t* blocks, size_t count) {
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (const uint8_t* block = blocks; block != blocks + 64 * count; block += 64) {
        const uint32_t aa = a, bb = b, cc = c, dd = d;
        uint32_t x[16];
        for (int i = 0; i < 16; i++) x[i] = digest_load_le32(block + 4 * i);

        constexpr uint32_t k1 = 0, k2 = 0x5a827999, k3 = 0x6ed9eba1;
        MD4_STEP(F, a, b, c, d, x[0], k1, 3);
        MD4_STEP(F, d, a, b, c, x[1], k1, 7);
        MD4_STEP(F, c, d, a, b, x[2], k1, 11);
        MD4_STEP(F, b, c, d, a, x[3], k1, 19);
        MD4_STEP(F, a, b, c, d, x[4], k1, 3);
        MD4_STEP(F, d, a, b, c, x[5], k1, 7);
        MD4_STEP(F, c, d, a, b, x[6], k1, 11);
        MD4_STEP(F, b, c, d, a, x[7], k1, 19);
        MD4_STEP(F, a, b, c, d, x[8], k1, 3);
        MD4_STEP(F, d, a, b, c, x[9], k1, 7);
        MD4_STEP(F, c, d, a, b, x[10], k1, 11);
        MD4_STEP(F, b, c, d, a, x[11], k1, 19);
        MD4_STEP(F, a, b, c, d, x[12], k1, 3);
        MD4_STEP(F, d, a, b, c, x[13], k1, 7);
        MD4_STEP(F, c, d, a, b, x[14], k1, 11);
        MD4_STEP(F, b, c, d, a, x[15], k1, 19);

        MD4_STEP(G, a, b, c, d, x[0], k2, 3);
        MD4_STEP(G, d, a, b, c, x[4], k2, 5);
        MD4_STEP(G, c, d, a, b, x[8], k2, 9);
        MD4_STEP(G, b, c, d, a, x[12], k2, 13);
        MD4_STEP(G, a, b, c, d, x[1], k2, 3);
        MD4_STEP(G, d, a, b, c, x[5], k2, 5);
        MD4_STEP(G, c, d, a, b, x[9], k2, 9);
        MD4_STEP(G, b, c, d, a, x[13], k2, 13);
        MD4_STEP(G, a, b, c, d, x[2], k2, 3);
        MD4_STEP(G, d, a, b, c, x[6], k2, 5);
        MD4_STEP(G, c, d, a, b, x[10], k2, 9);
        MD4_STEP(G, b, c, d, a, x[14], k2, 13);
        MD4_STEP(G, a, b, c, d, x[3], k2, 3);
        MD4_STEP(G, d, a, b, c, x[7], k2, 5);
        MD4_STEP(G, c, d, a, b, x[11], k2, 9);
        MD4_STEP(G, b, c, d, a, x[15], k2, 13);

        MD4_STEP(H, a, b, c, d, x[0], k3, 3);
        MD4_STEP(H, d, a, b, c, x[8], k3, 9);
        MD4_STEP(H, c, d, a, b, x[4], k3, 11);
        MD4_STEP(H, b, c, d, a, x[12], k3, 15);
        MD4_STEP(H, a, b, c, d, x[2], k3, 3);
        MD4_STEP(H, d, a, b, c, x[10], k3, 9);
        MD4_STEP(H, c, d, a, b, x[6], k3, 11);
        MD4_STEP(H, b, c, d, a, x[14], k3, 15);
        MD4_STEP(H, a, b, c, d, x[1], k3, 3);
        MD4_STEP(H, d, a, b, c, x[9], k3, 9);
        MD4_STEP(H, c, d, a, b, x[5], k3, 11);
        MD4_STEP(H, b, c, d, a, x[13], k3, 15);
        MD4_STEP(H, a, b, c, d, x[3], k3, 3);
        MD4_STEP(H, d, a, b, c, x[11], k3, 9);
        MD4_STEP(H, c, d, a, b, x[7], k3, 11);
        MD4_STEP(H, b, c, d, a, x[15], k3, 15);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state_[0] = a;
    state_[1] = b;
    state_[2] = c;
    state_[3] = d;
}

#undef MD4_STEP

void Md4Context::update(const void* data, size_t count) {
    blocks_.update(data, count, [this](const uint8_t* blocks, size_t n) { transform(blocks, n); });
}

void Md4Context::final(uint8_t* out) {
    blocks_.finish([this](const uint8_t* blocks, size_t n) { transform(blocks, n); });
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
