#include "v4ada/time/random.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

void seed_random() {
    uint32_t seed = static_cast<uint32_t>(getpid()) * static_cast<uint32_t>(time(nullptr));
    srand(seed);
}

int random_below(int n) {
    if (n <= 1) return 0;
    // rand() is 0 .. 2^31 - 1 here; the product needs 64 bits.
    int64_t r = rand();
    return static_cast<int>((static_cast<int64_t>(n) * r) >> 31);
}
