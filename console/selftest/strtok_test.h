// StrtokTest: the tokeniser on ordinary text, leading and repeated
// delimiters, a token longer than the output buffer and delimiters only.
#pragma once

#include "console/selftest/test.h"

class StrtokTest : public Test {
public:
    bool run() override;
};
