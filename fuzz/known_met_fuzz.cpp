// Reads known.met from arbitrary bytes into the indexed known-files list,
// applies the age rule and looks every record up again by hash and by
// size, time and name, then writes the list back.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "transfer/sharing/indexed_file_list.h"
#include "transfer/sharing/known_met.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initSpecialTags();
    set_debug_output(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    IndexedFileList known;
    i4_ram_file_class in(const_cast<uint8_t*>(data), size, 0);
    if (known.read(&in)) dropOldKnownFiles(known);

    std::vector<std::unique_ptr<FileMeta>> copies;
    {
        LLsafeGuard hold(known.list()->list());
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(known.list()->list(), &cursor)) {
            auto* copy = new FileMeta();
            copy->copyFrom(static_cast<FileMeta*>(element));
            copies.emplace_back(copy);
        }
    }
    for (auto& copy : copies) {
        if (!known.findByHash(copy->fileHash())) __builtin_trap();
        std::unique_ptr<FileMeta> found(
            known.copyBySizeTimeName(copy->size(), copy->modificationTime(), copy->name()));
        if (!found) __builtin_trap();
    }
    i4_ram_file_class out(nullptr, 0, 4096);
    known.list()->toDisk(&out);
    i4_free(out.data());
    return 0;
}
