// IterTest: insertions and removals through a list iterator while it walks
// a list of short strings.
#pragma once

#include "console/selftest/test.h"

class IterTest : public Test {
public:
    bool run() override;
};
