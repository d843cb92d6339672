// Reads arbitrary bytes as the start of an AVI file, and walks them as a
// header list, asking for the texts the importer uses.
#include <cstddef>
#include <cstdint>

#include "transfer/media/avi_header.h"
#include "v4ada/file/ram_file.h"

namespace {
void describe(const AviHeader& header) {
    (void)header.codec();
    (void)header.lengthText();
    (void)AviHeader::audioFormatName(header.audioFormatCode());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    i4_ram_file_class file(const_cast<uint8_t*>(data), size, 0);
    AviHeader header;
    if (header.read(&file)) describe(header);
    AviHeader walked;
    if (walked.walk(data, static_cast<uint32_t>(size))) describe(walked);
    return 0;
}
