#include "support/debug_capture.h"

#include "v4ada/file/debug_file.h"
#include "v4ada/memory/malloc4.h"

namespace support {

DebugCapture::DebugCapture() : previous_(debug_output()) { set_debug_output(&file_); }

DebugCapture::~DebugCapture() {
    set_debug_output(previous_);
    i4_free(file_.data());
}

std::string DebugCapture::text() {
    return std::string(reinterpret_cast<const char*>(file_.data()), static_cast<size_t>(file_.size()));
}

}  // namespace support
