// Reads a pref.met image from arbitrary bytes, applies what was read and
// writes the record back to memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    initSpecialTags();
    i4_ram_file_class in(const_cast<uint8_t*>(data), size, 0);
    CoreOptions options;
    if (!options.readPrefsFrom(&in)) return 0;
    if (options.ownUserMeta()->userHash().isZero()) std::abort();
    options.applyLoadedOptions();
    int32_t value = 0;
    options.getIntOption(kOptMaxConnections, &value);
    options.getStringOption(kOptProxyHost);
    options.nickname();
    i4_ram_file_class out(nullptr, 0, 256);
    options.writeOwnMeta(&out);
    if (out.size() != static_cast<i4_pos>(options.ownMetaSize())) std::abort();
    i4_free(out.data());
    return 0;
}
