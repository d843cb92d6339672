// Reads file records from arbitrary bytes: the file form, the wire form, a
// hash-set answer and a legacy part list for a size taken from the input.
// A record read back must write its hash sets in hashSetsSize bytes.
#include <cstddef>
#include <cstdint>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "v4ada/error/error.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

void checkSections(FileMeta& meta) {
    i4_ram_file_class out(nullptr, 0, 256);
    meta.writeHashSets(&out);
    bool same = out.size() == static_cast<i4_pos>(meta.hashSetsSize());
    i4_free(out.data());
    if (!same) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initSpecialTags();
    set_debug_output(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    uint8_t choice = data[0];
    uint32_t fileSize = data[1] | data[2] << 8 | data[3] << 16 | uint32_t(data[4]) << 24;
    i4_ram_file_class in(const_cast<uint8_t*>(data + 5), size - 5, 0);
    FileMeta meta;
    try {
        switch (choice % 4) {
            case 0:
                while (!in.atEnd() && meta.fromDisk(&in)) checkSections(meta);
                break;
            case 1:
                if (meta.fromNetwork(&in)) (void)meta.wireSize();
                break;
            case 2:
                meta.setSize(fileSize);
                meta.readHashSets(&in);
                break;
            default:
                meta.setSize(fileSize);
                meta.readLegacyParts(&in);
                break;
        }
    } catch (const i4_err&) {
    }
    checkSections(meta);
    (void)meta.name();
    return 0;
}
