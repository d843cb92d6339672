// UniqueIDTest: the bit order of 128-bit identifiers (bit 0 is the most
// significant bit of byte 0).
#pragma once

#include "console/selftest/test.h"

class UniqueIDTest : public Test {
public:
    bool run() override;
};
