// Capturing diagnostics. DebugCapture keeps the library's debug output
// (debug_printf and error reports) while it lives, instead of writing it to
// standard error; StderrCapture keeps whatever reaches descriptor 2.
#pragma once

#include <string>

#include "v4ada/file/ram_file.h"

namespace support {

class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;
    std::string text();

private:
    i4_file* previous_;
    i4_ram_file_class file_{nullptr, 0, 64};
};

// Sends descriptor 2 to a scratch file while it lives (standard error is
// flushed first and again before it is put back).
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    // What reached descriptor 2 so far.
    std::string text();

private:
    int saved_ = -1;
    int file_ = -1;
};

}  // namespace support
