// Reads tags from arbitrary bytes until the input is used up or a read
// fails; every tag read must write back exactly its wireSize bytes.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/meta/meta_tag.h"
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
    i4_ram_file_class in(const_cast<uint8_t*>(data), size, 0);
    try {
        for (int round = 0; !in.atEnd() && round < 64; round++) {
            std::unique_ptr<MetaTag> tag(MetaTag::makeTagFromBytes(&in));
            if (!tag) break;
            i4_ram_file_class out(nullptr, 0, 256);
            tag->toBytes(&out);
            bool same = out.size() == static_cast<i4_pos>(tag->wireSize());
            i4_free(out.data());
            if (!same) __builtin_trap();
            char buffer[255];
            tag->valueText(buffer, sizeof buffer);
            (void)tag->displayName();
            std::unique_ptr<MetaTag> copy(tag->clone());
        }
    } catch (const i4_err&) {
    }
    return 0;
}
