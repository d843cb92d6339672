// TestBoolArray: setting, clearing and reading bits of a bit array, and a
// round trip of the array through its stream form.
#pragma once

#include "console/selftest/test.h"

class TestBoolArray : public Test {
public:
    bool run() override;
};
