#include "v4ada/memory/memory.h"

#include "v4ada/error/error.h"

char char_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

char char_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

namespace {

int compareBytes(const void* a, const void* b, size_t n, bool foldCase) {
    auto pa = static_cast<const signed char*>(a);
    auto pb = static_cast<const signed char*>(b);
    for (size_t i = 0; i < n; i++) {
        signed char ca = pa[i], cb = pb[i];
        if (foldCase) {
            ca = static_cast<signed char>(char_upper(ca));
            cb = static_cast<signed char>(char_upper(cb));
        }
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return 0;
}

}  // namespace

int i4memcmp(const void* a, const void* b, size_t n) {
    if (!a || !b) error_at(i4_module::kMemory, __LINE__)("i4memcmp null pointers passed");
    return compareBytes(a, b, n, false);
}

int i4memicmp(const void* a, const void* b, size_t n) {
    if (!a || !b) error_at(i4_module::kMemory, __LINE__)("i4memicmp null pointers passed");
    return compareBytes(a, b, n, true);
}
