// Part geometry of shared files and the part hashing that gives a file its
// hash. A file of size s has ceil(s / kPartSize) parts and ceil(s /
// kCrumbSize) crumbs; part hash = MD4 of the part, crumb hash = first 8
// bytes of the MD4 of the crumb; file hash = MD4 of the data when the file
// has at most one part, else MD4 of the concatenated part hashes.
#pragma once

#include <cstdint>

#include "v4ada/file/file.h"

class LL;

constexpr uint32_t kPartSize = 9728000;       // 9500 KiB
constexpr uint32_t kPartSizeKiB = 9500;
constexpr uint32_t kCrumbSize = 486400;       // 475 KiB, 20 per part
constexpr int kCrumbHashSize = 8;
// Sizes are unsigned 32-bit in the protocol: larger files are not hashed.
constexpr uint64_t kLargestHashableSize = 0xFFFFFFFFull;

// Hashes the file at `path` part by part (parts of partSizeKiB KiB) and
// writes the file hash to out (16 bytes). With two parts or more, a new
// Md4Hash per part (owned by the caller) is appended to partHashes (may be
// null) in part order; with one part the list gets nothing. False, with
// out and the list untouched, when the file cannot be opened or read, when
// it holds 4 GiB or more, or when partSizeKiB is 0.
bool hashFileParts(uint8_t* out, const char* path, unsigned partSizeKiB, LL* partHashes);
