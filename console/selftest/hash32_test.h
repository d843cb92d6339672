// Hash32Test: adds, finds and removes values of a 32-bit-keyed hash table
// under two random keys and their near neighbours.
#pragma once

#include <cstdint>

#include "console/selftest/test.h"

class Hash32Test : public Test {
public:
    // Draws the keys from rand and runs the checks.
    bool run() override;
    // The checks under the given keys; the test fails when the keys are
    // equal, or when k1 is one of k2 + 1 and k2 + 3. Keys wrap at 2^32.
    bool runWithKeys(uint32_t k1, uint32_t k2);
};
