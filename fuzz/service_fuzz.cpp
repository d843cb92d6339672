// Reads a service (wire form) from arbitrary bytes into the service
// directory and looks it up again; a service read whole writes back
// exactly its size.
#include <cstddef>
#include <cstdint>

#include "core/meta/special_tags.h"
#include "overlay/index/service.h"
#include "overlay/index/service_directory.h"
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
    ServiceDirectory directory;
    i4_ram_file_class in(const_cast<uint8_t*>(data), size, 0);
    // Several services in a row: the same key twice refreshes the entry.
    for (int i = 0; i < 3 && in.remaining() > 0; i++) {
        auto service = new TimedService();
        if (!service->fromNetwork(&in)) {
            delete service;
            break;
        }
        i4_ram_file_class out(nullptr, 0, 256);
        service->toNetwork(&out);
        bool same = out.tell() == static_cast<i4_pos>(service->size());
        i4_free(out.data());
        if (!same) __builtin_trap();
        UniqueID key = service->serviceId;
        directory.add(service);
        ServiceSearch search(key);
        LL found;
        int next = 0;
        if (directory.lookup(&search, &next, &found) < 1 || found.count() < 1) __builtin_trap();
    }
    directory.expire(0);
    return 0;
}
