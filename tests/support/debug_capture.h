// DebugCapture: keeps the library's debug output (debug_printf and error
// reports) while it lives, instead of writing it to standard error.
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

}  // namespace support
