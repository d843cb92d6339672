// Reads user records (file form, then wire form) from arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "core/meta/special_tags.h"
#include "core/meta/user_meta.h"
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
        UserMeta meta;
        bool ok = network ? meta.fromNetwork(&in) : meta.fromDisk(&in);
        (void)meta.nickname();
        UserMeta other;
        (void)meta.sameUser(&other);
        if (!ok) continue;
        i4_ram_file_class out(nullptr, 0, 256);
        try {
            meta.toNetwork(&out);
        } catch (const i4_err&) {
        }
        bool same = out.size() == static_cast<i4_pos>(meta.wireSize());
        i4_free(out.data());
        if (!same) __builtin_trap();
    }
    return 0;
}
