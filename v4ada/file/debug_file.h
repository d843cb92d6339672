// The debug output: reads take standard input, writes go to standard error.
#pragma once

#include "v4ada/file/file.h"

class i4_debug_file_class : public i4_file {
public:
    constexpr i4_debug_file_class() = default;
    int read(void* buffer, int n) override;
    int write(const void* buffer, int n) override;
    i4_pos seek(i4_pos) override { return 0; }
    i4_pos size() override { return 0; }
    i4_pos tell() override { return 0; }
};

// The process-wide debug output (debug_printf writes through it). Tests
// install their own file to capture diagnostics; null silences them.
i4_file* debug_output();
void set_debug_output(i4_file* file);
// Reopens any closed descriptor among 0, 1 and 2 on /dev/null, so that a
// later open never lands on a standard descriptor.
void ensure_standard_descriptors();
