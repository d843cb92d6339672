#include "v4ada/digest/hash_input.h"

#include "v4ada/file/fs.h"

i4_file* openHashInput(const char* path) {
    if (path == nullptr) return nullptr;
    // Only regular files are hashed: a directory or device is "cannot open".
    // The kind is taken from the opened file, so that a FIFO put in the
    // file's place after a check cannot hold the open.
    return fs_open_regular(path);
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
