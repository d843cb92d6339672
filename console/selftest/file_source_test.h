// FileSourceTest: the place of a self test of the download sources; it passes at once.
#pragma once

#include "console/selftest/test.h"

class FileSourceTest : public Test {
public:
    bool run() override { return true; }
};
