// Reads contact.dat images of arbitrary bytes: every whole record is kept,
// and an image read whole saves back to the same bytes it used.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "overlay/routing/node_list.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NodeList list;
    bool whole = list.parse(data, size);
    if (size >= kContactFileHeaderSize) {
        size_t present = (size - kContactFileHeaderSize) / kNodeRecordSize;
        uint32_t count = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
        size_t expected = std::min<size_t>({count, present, kContactFileMaxNodes});
        if (static_cast<size_t>(list.count()) != expected) __builtin_trap();
    }
    if (!whole) return 0;
    i4_ram_file_class out(nullptr, 0, 1024);
    out.write_32(static_cast<uint32_t>(list.count()));
    for (Node* node : list.nodes()) node->write(&out);
    bool same = std::memcmp(out.data(), data, out.tell()) == 0;
    i4_free(out.data());
    if (!same) __builtin_trap();
    return 0;
}
