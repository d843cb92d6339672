// Reads identifiers from arbitrary bytes and parses the input as hex text;
// whatever reads must come back unchanged through the wire and text forms.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>

#include "v4ada/containers/unique_id.h"
#include "v4ada/error/error.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    i4_ram_file_class in(const_cast<uint8_t*>(data), size, 0);
    UniqueID previous;
    while (true) {
        UniqueID id;
        try {
            id.read(&in);
        } catch (const i4_err&) {
            break;
        }
        if (std::memcmp(id.bytes(), data + in.tell() - 16, 16) != 0) abort();
        char* hex = id.toHex();
        UniqueID back;
        if (!back.fromHex(hex) || !back.equals(id)) abort();
        i4_free(hex);
        if (id.distance(previous) != previous.distance(id)) abort();
        previous.copy(id);
    }

    std::string text(reinterpret_cast<const char*>(data), size);
    UniqueID parsed;
    if (parsed.fromHex(text.c_str())) {
        char* hex = parsed.toHex();
        bool same = strcasecmp(hex, text.c_str()) == 0;
        i4_free(hex);
        if (!same) abort();
    }
    return 0;
}
