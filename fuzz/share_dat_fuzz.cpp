// Reads share.dat from arbitrary bytes into a share list, then lists,
// groups records under and saves what was read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "transfer/sharing/share_list.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/file/ram_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initSpecialTags();
    set_debug_output(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShareList list;
    i4_ram_file_class in(const_cast<uint8_t*>(data), size, 0);
    list.read(&in, "/nonexistent-incoming");
    std::vector<OwnedString> paths;
    list.directoryPaths(paths);
    FileMeta record;
    for (const OwnedString& path : paths) {
        list.addFile(path.c_str(), &record);
        (void)list.directoryFiles(path.c_str());
    }
    list.removeFile(&record);
    list.clear();
    return 0;
}
