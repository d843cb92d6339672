#include "v4ada/digest/hash_input.h"

#include <sys/stat.h>

#include "v4ada/file/fs.h"

i4_file* openHashInput(const char* path) {
    if (path == nullptr) return nullptr;
    // Only regular files are hashed: a directory or device is "cannot open".
    struct stat record;
    if (fs_stat_raw(path, &record) != 0 || !S_ISREG(record.st_mode)) return nullptr;
    return fs_open(path, kFsRead);
}

bool readFully(i4_file* file, void* buffer, int n) {
    uint8_t* at = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        int got = file->read(at, n);
        if (got <= 0) return false;
        if (got > n) return false;
        at += got;
        n -= got;
    }
    return true;
}
