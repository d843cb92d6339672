// The MD4 digests of test data by the part geometry (9,728,000-byte parts,
// 486,400-byte crumbs), computed piece by piece apart from the code under
// test, and the hash-set section they make.
//
//   PartDigests expected(data);
//   ByteReader sets(expected.hashSets());
//   meta.readHashSets(sets.file());
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/bytes.h"

class FileMeta;

namespace support {

// MD4 of n bytes (16 bytes).
Bytes md4_bytes(const uint8_t* data, size_t n);
Bytes md4_bytes(const Bytes& data);

struct PartDigests {
    explicit PartDigests(const Bytes& data);
    std::vector<Bytes> parts;   // 16 bytes each
    std::vector<Bytes> crumbs;  // the first 8 bytes of each crumb's MD4
    // The only part's digest, or the MD4 of the part digests.
    Bytes fileHash;
    // Part hashes (with two parts or more) and crumb hashes (with two
    // crumbs or more), each after the flag byte 1.
    Bytes hashSets() const;
};

// A file record of the data named name: its size and file hash, and with
// withHashSets its part and crumb hashes; null when the sets do not read.
std::unique_ptr<FileMeta> record_of(const Bytes& data, const char* name, bool withHashSets = true);

// n bytes that differ with the seed and have no short period.
Bytes pattern_bytes(size_t n, uint32_t seed = 1);

}  // namespace support
