// Reads bit arrays from arbitrary bytes; every one that reads must write
// back to the bytes it came from (spare bits included), and a non-empty
// one takes exactly serializedSize bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "v4ada/containers/bool_array.h"
#include "v4ada/error/error.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    i4_ram_file_class in(const_cast<uint8_t*>(data), size, 0);
    while (true) {
        i4_pos start = in.tell();
        BoolArray a;
        try {
            a.read(&in);
        } catch (const i4_err&) {
            break;
        }
        i4_pos used = in.tell() - start;
        if (a.count() != 0 && used != a.serializedSize()) abort();

        i4_ram_file_class out(nullptr, 0, 64);
        a.write(&out);
        bool same = out.size() == used && std::memcmp(out.data(), data + start, used) == 0;
        i4_free(out.data());
        if (!same) abort();
        if (a.count() > 0) {
            a.get(a.count() - 1);
            a.allEqual(true);
        }
        if (used == 0 || in.atEnd()) break;
    }
    return 0;
}
