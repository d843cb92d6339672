#include "core/net/check_trailer.h"

bool messageCheckTrailer(uint8_t* b, size_t n, int32_t seed) {
    if (b == nullptr || n < 5) return false;
    int32_t x = seed;
    uint32_t prev = 0;
    uint32_t cur = b[0];
    bool ok = true;
    for (size_t i = 0; i + 1 < n; ++i) {
        // Signed arithmetic with a truncating remainder, kept inside 64 bits
        // so a large seed cannot overflow the product.
        x = static_cast<int32_t>((static_cast<int64_t>(x) * 4637 + 2803) % 255);
        uint32_t mixed = ((prev + cur) & 0xFF) ^ ((static_cast<uint32_t>(b[i]) + 7741) % 255);
        cur = (mixed - static_cast<uint32_t>(x)) & 0xFF;
        prev = cur;
        if (i + 5 >= n) {
            ok = ok && b[i + 1] == cur;
            b[i + 1] = static_cast<uint8_t>(cur);
        }
    }
    return ok;
}
