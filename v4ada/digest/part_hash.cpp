#include "v4ada/digest/part_hash.h"

#include <cstring>
#include <memory>
#include <vector>

#include "v4ada/containers/ll.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/digest/hash_input.h"
#include "v4ada/digest/md4.h"
#include "v4ada/error/error.h"

bool hashFileParts(uint8_t* out, const char* path, unsigned partSizeKiB, LL* partHashes) {
    if (partSizeKiB == 0) return false;
    std::unique_ptr<i4_file> file(openHashInput(path));
    if (!file) return false;

    const uint64_t size = file->size();
    if (size > kLargestHashableSize) {
        debug_printf("hashFileParts: %s holds %U bytes, 4 GiB or more: not hashed\n", path, size);
        return false;
    }
    if (file->seek(0) != 0) return false;

    const uint64_t partSize = static_cast<uint64_t>(partSizeKiB) * 1024;
    // An empty file is one empty part; an exact multiple adds no empty part.
    const uint64_t parts = size == 0 ? 1 : (size + partSize - 1) / partSize;

    std::vector<Md4Hash> digests(parts);
    std::unique_ptr<uint8_t[]> block(new uint8_t[kHashBlockSize]);
    uint64_t left = size;
    for (uint64_t p = 0; p < parts; p++) {
        Md4Context context;
        uint64_t partLeft = left < partSize ? left : partSize;
        left -= partLeft;
        while (partLeft > 0) {
            int want = partLeft < kHashBlockSize ? static_cast<int>(partLeft) : kHashBlockSize;
            if (!readFully(file.get(), block.get(), want)) return false;
            context.update(block.get(), static_cast<size_t>(want));
            partLeft -= static_cast<uint64_t>(want);
        }
        context.final(digests[p].bytes());
    }

    if (parts < 2) {
        std::memcpy(out, digests[0].bytes(), kMd4DigestSize);
        return true;
    }

    Md4Context context;
    for (const Md4Hash& digest : digests) {
        context.update(digest.bytes(), kMd4DigestSize);
        if (partHashes != nullptr) {
            Md4Hash* copy = new Md4Hash;
            copy->copy(digest);
            partHashes->append(copy);
        }
    }
    context.final(out);
    return true;
}
