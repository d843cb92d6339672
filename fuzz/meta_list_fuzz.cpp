// Reads record lists (plain, file and user records; file and wire forms)
// from arbitrary bytes. The first byte chooses the list and the form.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/meta/file_list.h"
#include "core/meta/meta_list.h"
#include "core/meta/special_tags.h"
#include "core/meta/user_list.h"
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
    if (size < 1) return 0;
    uint8_t choice = data[0];
    std::unique_ptr<MetaList> list;
    switch (choice % 3) {
        case 0: list = std::make_unique<MetaList>(); break;
        case 1: list = std::make_unique<FileList>(); break;
        default: list = std::make_unique<UserList>(); break;
    }
    i4_ram_file_class in(const_cast<uint8_t*>(data + 1), size - 1, 0);
    try {
        if (choice & 4)
            list->fromNetwork(&in);
        else
            list->fromDisk(&in);
    } catch (const i4_err&) {
    }
    i4_ram_file_class out(nullptr, 0, 256);
    try {
        list->toNetwork(&out);
    } catch (const i4_err&) {
    }
    (void)list->wireSize();
    i4_free(out.data());
    list->clear();
    return 0;
}
