#include "console/selftest/unique_id_test.h"

#include <cstdint>
#include <cstring>

#include "console/selftest/test_output.h"
#include "v4ada/containers/unique_id.h"

namespace {

constexpr unsigned kBits = 128;

// Every bit of an identifier of 16 equal bytes: bit i is evenBit for even
// i and oddBit for odd i.
bool bitsAre(uint8_t byte, int evenBit, int oddBit) {
    uint8_t bytes[kUniqueIdSize];
    memset(bytes, byte, sizeof bytes);
    UniqueID id;
    id.copy(bytes);
    for (unsigned i = 0; i < kBits; ++i)
        if (id.bit(i) != (i % 2 == 0 ? evenBit : oddBit)) return false;
    return true;
}

}  // namespace

bool UniqueIDTest::run() {
    test_print(" UniqueID test:");
    return bitsAre(0x00, 0, 0) && bitsAre(0xFF, 1, 1) && bitsAre(0xAA, 1, 0) && bitsAre(0x55, 0, 1);
}
