// What MD4 and MD5 share: 64-byte blocks fed to a compression step, a
// 64-bit bit count, and the padding (0x80, zeros to 56 mod 64, then the
// bit count little-endian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline uint32_t digest_rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t digest_load_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline void digest_store_le32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

class DigestBlocks {
public:
    static constexpr size_t kBlock = 64;

    DigestBlocks() { reset(); }
    void reset() {
        bits_ = 0;
        std::memset(buffer_, 0, sizeof buffer_);
    }

    // Feeds bytes; `compress` (first block, count) takes the complete
    // blocks, those that lie one after another in one call.
    template <typename Compress>
    void update(const void* data, size_t count, Compress&& compress) {
        const uint8_t* in = static_cast<const uint8_t*>(data);
        size_t used = static_cast<size_t>((bits_ >> 3) & (kBlock - 1));
        bits_ += static_cast<uint64_t>(count) << 3;
        if (used != 0) {
            size_t room = kBlock - used;
            if (count < room) {
                std::memcpy(buffer_ + used, in, count);
                return;
            }
            std::memcpy(buffer_ + used, in, room);
            compress(buffer_, size_t{1});
            in += room;
            count -= room;
        }
        if (count >= kBlock) {
            compress(in, count / kBlock);
            in += count / kBlock * kBlock;
            count %= kBlock;
        }
        if (count != 0) std::memcpy(buffer_, in, count);
    }

    // Pads and compresses the last blocks; the caller then reads its state.
    template <typename Compress>
    void finish(Compress&& compress) {
        uint8_t length[8];
        digest_store_le32(length, static_cast<uint32_t>(bits_));
        digest_store_le32(length + 4, static_cast<uint32_t>(bits_ >> 32));
        static const uint8_t padding[kBlock] = {0x80};
        size_t used = static_cast<size_t>((bits_ >> 3) & (kBlock - 1));
        update(padding, used < 56 ? 56 - used : 120 - used, compress);
        update(length, 8, compress);
    }

private:
    uint64_t bits_;
    uint8_t buffer_[kBlock];
};
