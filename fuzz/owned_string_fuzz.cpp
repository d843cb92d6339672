// Decodes length-prefixed strings (whole and with a small maximum) from
// arbitrary bytes until the input is used up or a read fails.
#include <cstddef>
#include <cstdint>

#include "v4ada/error/error.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/string/owned_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    i4_ram_file_class file(const_cast<uint8_t*>(data), size, 0);
    try {
        for (int round = 0; !file.atEnd() && round < 64; round++) {
            OwnedString s = (round % 2) ? OwnedString(100u, &file) : OwnedString(&file);
            (void)s.length();
        }
    } catch (const i4_err&) {
    }
    return 0;
}
