// StristrTest: the case-insensitive substring search.
#pragma once

#include "console/selftest/test.h"

class StristrTest : public Test {
public:
    bool run() override;
};
