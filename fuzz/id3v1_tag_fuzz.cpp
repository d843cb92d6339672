// Parses the first 128 bytes as an ID3v1 tag; a tag that parses must read
// back the same from the block it writes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "transfer/media/id3v1_tag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < static_cast<size_t>(kId3v1Size)) return 0;
    Id3v1Tag tag;
    if (!tag.parse(data)) return 0;
    (void)tag.genreName();
    uint8_t block[kId3v1Size];
    tag.serialize(block);
    Id3v1Tag again;
    if (!again.parse(block)) __builtin_trap();
    if (std::strcmp(tag.title(), again.title()) != 0 || std::strcmp(tag.artist(), again.artist()) != 0 ||
        std::strcmp(tag.album(), again.album()) != 0 || std::strcmp(tag.comment(), again.comment()) != 0 ||
        tag.year() != again.year() || tag.track() != again.track() || tag.genre() != again.genre())
        __builtin_trap();
    return 0;
}
