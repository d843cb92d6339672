// Drives the typed readers over a memory file with the first byte of each
// step choosing the reader, as a record parser would.
#include <cstddef>
#include <cstdint>

#include "v4ada/error/error.h"
#include "v4ada/file/buffered_file.h"
#include "v4ada/file/ram_file.h"

namespace {
void readAll(i4_file* file) {
    try {
        for (int step = 0; step < 1000 && !file->atEnd(); step++) {
            switch (file->read_8() % 6) {
                case 0: file->read_16(); break;
                case 1: file->read_32(); break;
                case 2: file->read_64(); break;
                case 3: file->read_float(); break;
                case 4: {
                    uint8_t buffer[64];
                    file->readAll(buffer, file->read_8() % sizeof buffer);
                    break;
                }
                default: file->seek(file->read_8()); break;
            }
        }
    } catch (const i4_err&) {
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    i4_ram_file_class plain(const_cast<uint8_t*>(data), size, 0);
    readAll(&plain);
    // The same bytes through a small buffer window.
    i4_buffered_file_class buffered(new i4_ram_file_class(const_cast<uint8_t*>(data), size, 0), 7, 0);
    readAll(&buffered);
    return 0;
}
