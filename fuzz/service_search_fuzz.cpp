// Reads an overlay search (INODE_SEARCH body) from arbitrary bytes, applies
// it to a record; what it writes reads back and writes the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/meta/meta.h"
#include "core/meta/meta_tag.h"
#include "core/meta/special_tags.h"
#include "overlay/index/service_search.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initSpecialTags();
    set_debug_output(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    i4_ram_file_class in(const_cast<uint8_t*>(data), size, 0);
    ServiceSearch search;
    if (!search.read(&in)) return 0;
    Meta record;
    record.set("n", "Blue Moon", kTagString);
    int32_t bytes = 4096;
    record.setSpecial(ST_SIZE, &bytes);
    (void)search.matches(&record);
    // Written, read back and written again: the same bytes.
    i4_ram_file_class out(nullptr, 0, 256);
    bool written = search.write(&out);
    bool same = out.tell() == static_cast<i4_pos>(search.size());
    if (written) {
        i4_ram_file_class again(out.data(), out.tell(), 0);
        ServiceSearch copy;
        i4_ram_file_class out2(nullptr, 0, 256);
        same = same && copy.read(&again) && copy.write(&out2) && out2.tell() == out.tell() &&
               std::memcmp(out2.data(), out.data(), out.tell()) == 0;
        i4_free(out2.data());
    }
    i4_free(out.data());
    if (!same) __builtin_trap();
    return 0;
}
