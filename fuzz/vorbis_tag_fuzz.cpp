// Walks arbitrary bytes as FLAC metadata through a memory stream and takes
// every comment apart as the importer does.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "transfer/media/vorbis_tag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (stream == nullptr) return 0;
    VorbisTag tag;
    if (tag.read(stream)) {
        if (tag.vendor().size() > static_cast<size_t>(kVorbisVendorMax)) __builtin_trap();
        for (int i = 0; i < tag.commentCount(); i++) {
            char name[256], value[256];
            if (tag.comment(i, name, value, sizeof name) && (std::strlen(name) > 255 || std::strlen(value) > 255))
                __builtin_trap();
        }
        (void)tag.durationText();
    }
    fclose(stream);
    return 0;
}
