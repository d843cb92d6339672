// Reads a tag list (file form, then wire form) from arbitrary bytes; a list
// read whole must write back exactly its wireSize bytes.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "core/meta/meta.h"
#include "core/meta/special_tags.h"
#include "v4ada/error/error.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initSpecialTags();
    set_debug_output(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (bool network : {false, true}) {
        i4_ram_file_class in(const_cast<uint8_t*>(data), size, 0);
        Meta meta;
        bool ok = network ? meta.fromNetwork(&in) : meta.fromDisk(&in);
        (void)meta.getInt("pr");
        (void)meta.getSpecialInt(ST_SIZE);
        (void)meta.textOf(specialCodeName(ST_NAME));
        if (!ok) continue;
        i4_ram_file_class out(nullptr, 0, 256);
        try {
            meta.toDisk(&out);
        } catch (const i4_err&) {
        }
        bool same = out.size() == static_cast<i4_pos>(meta.wireSize());
        i4_free(out.data());
        if (!same) __builtin_trap();
    }
    return 0;
}
