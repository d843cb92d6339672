// Decodes arbitrary text in place and checks that the result never grows
// and stays terminated inside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "v4ada/string/text_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* text = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(text, data, size);
    text[size] = 0;
    size_t before = std::strlen(text);
    urlUnescape(text);
    if (std::strlen(text) > before) std::abort();
    std::free(text);
    return 0;
}
