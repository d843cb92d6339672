#include "support/part_digests.h"

#include <algorithm>

#include "core/meta/file_meta.h"
#include "support/memory_files.h"
#include "v4ada/digest/md4.h"

namespace support {

namespace {
constexpr size_t kPart = 9728000;
constexpr size_t kCrumb = 486400;
}  // namespace

Bytes md4_bytes(const uint8_t* data, size_t n) {
    Bytes out(16);
    Md4Context context;
    context.update(data, n);
    context.final(out.data());
    return out;
}

Bytes md4_bytes(const Bytes& data) { return md4_bytes(data.data(), data.size()); }

PartDigests::PartDigests(const Bytes& data) {
    for (size_t at = 0; at < data.size(); at += kPart) {
        parts.push_back(md4_bytes(data.data() + at, std::min(kPart, data.size() - at)));
    }
    for (size_t at = 0; at < data.size(); at += kCrumb) {
        Bytes digest = md4_bytes(data.data() + at, std::min(kCrumb, data.size() - at));
        crumbs.push_back(Bytes(digest.begin(), digest.begin() + 8));
    }
    if (parts.size() < 2) {
        fileHash = md4_bytes(data);
        return;
    }
    Bytes joined;
    for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
    fileHash = md4_bytes(joined);
}

Bytes PartDigests::hashSets() const {
    Bytes out;
    if (parts.size() >= 2) {
        out.push_back(1);
        for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    }
    if (crumbs.size() >= 2) {
        out.push_back(1);
        for (const Bytes& crumb : crumbs) out.insert(out.end(), crumb.begin(), crumb.end());
    }
    return out;
}

Bytes pattern_bytes(size_t n, uint32_t seed) {
    Bytes data(n);
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<uint8_t>(x >> 23);
    }
    return data;
}

std::unique_ptr<FileMeta> record_of(const Bytes& data, const char* name, bool withHashSets) {
    auto meta = std::make_unique<FileMeta>();
    meta->setName(name);
    meta->setSize(static_cast<uint32_t>(data.size()));
    PartDigests digests(data);
    UniqueID hash;
    hash.copy(digests.fileHash.data());
    meta->setFileHash(hash);
    if (withHashSets) {
        ByteReader sets(digests.hashSets());
        if (!meta->readHashSets(sets.file())) return nullptr;
    }
    return meta;
}

}  // namespace support
