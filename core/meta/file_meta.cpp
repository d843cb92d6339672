#include "core/meta/file_meta.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/meta/meta_messages.h"
#include "core/meta/read_limits.h"
#include "core/meta/special_tags.h"
#include "v4ada/containers/ll.h"
#include "v4ada/digest/hash_input.h"
#include "v4ada/digest/md4.h"
#include "v4ada/digest/part_hash.h"
#include "v4ada/error/error.h"
#include "v4ada/file/fs.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/string/cstring.h"
#include "v4ada/string/text_convert.h"

namespace {

struct FreeBytes {
    void operator()(uint8_t* bytes) const { i4_free(bytes); }
};
using Bytes = std::unique_ptr<uint8_t, FreeBytes>;

// Reads count x width bytes into a new buffer; raises i4_err when the
// stream does not hold them.
Bytes readHashes(i4_file* file, uint32_t count, uint32_t width) {
    uint64_t length = static_cast<uint64_t>(count) * width;
    if (length > bytesLeft(file)) error_at(__FILE__, __LINE__)("hash set cut short");
    if (length == 0) return Bytes();
    Bytes bytes(static_cast<uint8_t*>(i4_malloc(length)));
    file->readAll(bytes.get(), static_cast<int>(length));
    return bytes;
}

bool concatenationGives(const uint8_t* parts, uint32_t count, const UniqueID& hash) {
    uint8_t digest[kMd4DigestSize];
    Md4Context md4;
    md4.update(parts, static_cast<size_t>(count) * kUniqueIdSize);
    md4.final(digest);
    return hash.equals(digest);
}

bool writeAll(i4_file* file, const void* bytes, uint64_t length) {
    return file->write(bytes, static_cast<int>(length)) == static_cast<int>(length);
}

}  // namespace

uint32_t partCountOf(uint64_t size) { return static_cast<uint32_t>((size + kPartSize - 1) / kPartSize); }

uint32_t crumbCountOf(uint64_t size) { return static_cast<uint32_t>((size + kCrumbSize - 1) / kCrumbSize); }

FileMeta::FileMeta() = default;

FileMeta::FileMeta(const char* path, HashContext& context) {
    path_ = OwnedString(path);
    const char* slash = strrchr(path ? path : "", '/');
    setName(slash ? slash + 1 : (path ? path : ""));
    // Only a regular file is hashed, and its open never waits (a FIFO may
    // have taken the checked file's place).
    i4_file* file = fs_open_regular(path);
    if (!file) error_at(__FILE__, __LINE__)("couldn't open");
    i4_pos size = file->size();
    if (size > kLargestHashableSize) {
        delete file;
        error_at(__FILE__, __LINE__)("file of 4 GiB or more");
    }
    setSize(static_cast<uint32_t>(size));
    uint32_t parts = partCount();
    uint32_t crumbs = crumbCount();
    context.start(file, static_cast<uint32_t>(size), parts, crumbs);
    if (parts >= 2) {
        auto* zeroed = static_cast<uint8_t*>(i4_malloc(static_cast<size_t>(parts) * kUniqueIdSize));
        memset(zeroed, 0, static_cast<size_t>(parts) * kUniqueIdSize);
        setParts(zeroed, parts);
    }
    if (crumbs >= 2) {
        auto* zeroed = static_cast<uint8_t*>(i4_malloc(static_cast<size_t>(crumbs) * kCrumbHashSize));
        memset(zeroed, 0, static_cast<size_t>(crumbs) * kCrumbHashSize);
        setCrumbs(zeroed, crumbs);
    }
}

FileMeta::~FileMeta() { dropHashes(); }

void FileMeta::dropHashes() {
    setParts(nullptr, 0);
    setCrumbs(nullptr, 0);
}

void FileMeta::setParts(uint8_t* parts, uint32_t count) {
    i4_free(partHashes_);
    partHashes_ = parts;
    partCount_ = parts ? count : 0;
}

void FileMeta::setCrumbs(uint8_t* crumbs, uint32_t count) {
    i4_free(crumbHashes_);
    crumbHashes_ = crumbs;
    crumbCount_ = crumbs ? count : 0;
}

// --- tags ------------------------------------------------------------------

const char* FileMeta::name() {
    if (!findSpecial(ST_NAME)) setSpecial(ST_NAME, kUnknownName);
    const char* text = textOf(specialCodeName(ST_NAME));
    return text ? text : kUnknownName;
}

void FileMeta::setName(const char* name) { setSpecial(ST_NAME, name); }

uint32_t FileMeta::size() const { return static_cast<uint32_t>(getSpecialInt(ST_SIZE)); }

void FileMeta::setSize(uint32_t size) {
    auto value = static_cast<int32_t>(size);
    setSpecial(ST_SIZE, &value);
}

bool FileMeta::matches(uint32_t size, uint32_t time, const char* name) {
    return this->size() == size && modificationTime_ == time && i4_strcmp(this->name(), name) == 0;
}

void FileMeta::stripLocalTags() {
    while (findSpecial(ST_UPLOAD_PRIORITY)) removeSpecial(ST_UPLOAD_PRIORITY);
    while (findTag(kSentCountTag)) removeTag(kSentCountTag);
    while (findTag(kLastSeenCompleteTag)) removeTag(kLastSeenCompleteTag);
}

// --- hashes ----------------------------------------------------------------

uint32_t FileMeta::partCount() const { return partCountOf(size()); }

uint32_t FileMeta::crumbCount() const { return crumbCountOf(size()); }

bool FileMeta::hasPartArray() const { return partHashes_ && partCount_ == partCount() && partCount_ >= 2; }

bool FileMeta::hasCrumbArray() const { return crumbHashes_ && crumbCount_ == crumbCount() && crumbCount_ >= 2; }

const uint8_t* FileMeta::partHash(uint32_t i) const {
    uint32_t parts = partCount();
    if (parts == 1 && i == 0) return fileHash_.bytes();
    if (!hasPartArray() || i >= partCount_) return nullptr;
    return partHashes_ + static_cast<size_t>(i) * kUniqueIdSize;
}

uint64_t FileMeta::crumbHash(uint32_t i) const {
    if (!hasCrumbArray() || i >= crumbCount_) return 0;
    const uint8_t* bytes = crumbHashes_ + static_cast<size_t>(i) * kCrumbHashSize;
    uint64_t value = 0;
    for (int k = kCrumbHashSize - 1; k >= 0; k--) value = (value << 8) | bytes[k];
    return value;
}

bool FileMeta::partHashesComplete() const { return partCount() < 2 || hasPartArray(); }

bool FileMeta::crumbHashesComplete() const { return crumbCount() < 2 || hasCrumbArray(); }

void FileMeta::setPartHashes(LL* hashes) {
    uint32_t parts = partCount();
    if (!hashes || parts < 2 || static_cast<uint32_t>(hashes->count()) != parts) return;
    auto* copy = static_cast<uint8_t*>(i4_malloc(static_cast<size_t>(parts) * kUniqueIdSize));
    LLNode* cursor = nullptr;
    uint32_t i = 0;
    while (void* element = LL::walk(hashes, &cursor)) {
        memcpy(copy + static_cast<size_t>(i) * kUniqueIdSize, static_cast<UniqueID*>(element)->bytes(),
               kUniqueIdSize);
        i++;
    }
    setParts(copy, parts);
}

bool FileMeta::writeHashSets(i4_file* file) const {
    bool ok = true;
    if (partCount() >= 2) {
        bool present = hasPartArray();
        ok = file->write_8(present ? 1 : 0) == 1 && ok;
        if (present) ok = writeAll(file, partHashes_, static_cast<uint64_t>(partCount_) * kUniqueIdSize) && ok;
    }
    if (crumbCount() >= 2) {
        bool present = hasCrumbArray();
        ok = file->write_8(present ? 1 : 0) == 1 && ok;
        if (present) ok = writeAll(file, crumbHashes_, static_cast<uint64_t>(crumbCount_) * kCrumbHashSize) && ok;
    }
    return ok;
}

int FileMeta::hashSetsSize() const {
    int size = 0;
    if (partCount() >= 2) size += hasPartArray() ? 1 + kUniqueIdSize * static_cast<int>(partCount_) : 1;
    if (crumbCount() >= 2) size += hasCrumbArray() ? 1 + kCrumbHashSize * static_cast<int>(crumbCount_) : 1;
    return size;
}

bool FileMeta::readHashSets(i4_file* file) {
    bool verified = true;
    uint32_t parts = partCount();
    uint32_t crumbs = crumbCount();
    if (parts >= 2) {
        if (file->read_8() == 1) {
            Bytes read = readHashes(file, parts, kUniqueIdSize);
            if (concatenationGives(read.get(), parts, fileHash_)) {
                setParts(read.release(), parts);
            } else {
                verified = false;
            }
        } else {
            verified = false;
        }
    }
    if (crumbs >= 2 && file->read_8() == 1) {
        Bytes read = readHashes(file, crumbs, kCrumbHashSize);
        // Crumb hashes cannot be checked on their own: they are taken only
        // from a section whose part hashes verified.
        if (verified) setCrumbs(read.release(), crumbs);
    }
    return verified;
}

bool FileMeta::readPartList(i4_file* file, uint8_t** parts, uint32_t* count) {
    uint16_t n = file->read_16();
    Bytes read = readHashes(file, n, kUniqueIdSize);
    *parts = read.release();
    *count = n;
    return true;
}

bool FileMeta::acceptParts(uint8_t* parts, uint32_t count) {
    uint32_t expected = partCount();
    if (parts && expected >= 2 && count == expected && concatenationGives(parts, count, fileHash_)) {
        setParts(parts, count);
        return true;
    }
    i4_free(parts);
    return false;
}

bool FileMeta::readLegacyParts(i4_file* file) {
    uint8_t* parts = nullptr;
    uint32_t count = 0;
    readPartList(file, &parts, &count);
    return acceptParts(parts, count);
}

// --- hashing a local file --------------------------------------------------

bool FileMeta::hashStep(HashContext& context) {
    if (context.finished || !context.file) return false;
    if (!context.started) {
        context.part.init();
        context.started = true;
    }
    uint64_t end = static_cast<uint64_t>(context.position) + kCrumbSize;
    if (end > context.size) end = context.size;
    bool crumbs = hasCrumbArray();
    Md4Context crumb;
    if (!context.block) context.block.reset(new uint8_t[kHashBlockSize]);
    uint8_t* block = context.block.get();
    while (context.position < end) {
        int n = static_cast<int>(end - context.position < kHashBlockSize ? end - context.position : kHashBlockSize);
        if (!readFully(context.file, block, n)) error_at(__FILE__, __LINE__)("not all read");
        context.part.update(block, static_cast<size_t>(n));
        if (crumbs) crumb.update(block, static_cast<size_t>(n));
        context.position += static_cast<uint32_t>(n);
    }
    if (crumbs && context.nextCrumb < crumbCount_) {
        uint8_t digest[kMd4DigestSize];
        crumb.final(digest);
        memcpy(crumbHashes_ + static_cast<size_t>(context.nextCrumb) * kCrumbHashSize, digest, kCrumbHashSize);
        context.nextCrumb++;
    }
    bool atEnd = context.position == context.size;
    if ((context.position % kPartSize == 0 || atEnd) && hasPartArray() && context.nextPart < partCount_) {
        context.part.final(partHashes_ + static_cast<size_t>(context.nextPart) * kUniqueIdSize);
        context.part.init();
        context.nextPart++;
    }
    if (!atEnd) return true;
    uint8_t digest[kMd4DigestSize];
    if (hasPartArray()) {
        Md4Context whole;
        whole.update(partHashes_, static_cast<size_t>(partCount_) * kUniqueIdSize);
        whole.final(digest);
    } else {
        context.part.final(digest);
    }
    fileHash_.copy(digest);
    context.finished = true;
    context.close();
    return false;
}

// --- file and wire forms ---------------------------------------------------

bool FileMeta::toDisk(i4_file* file) {
    bool ok = file->write_8(kFileMetaVersion) == 1;
    ok = file->write_32(modificationTime_) == 4 && ok;
    ok = fileHash_.write(file) == kUniqueIdSize && ok;
    bool tags = Meta::toDisk(file);
    ok = writeHashSets(file) && ok;
    return tags && ok;
}

bool FileMeta::readVersion2(i4_file* file) {
    modificationTime_ = file->read_32();
    fileHash_.read(file);
    // No writer gives a negative tag count, which the tag reader takes as
    // none: such a record is not in this form.
    i4_pos tags = file->tell();
    if (static_cast<int32_t>(file->read_32()) < 0 || file->seek(tags) != tags) return false;
    if (!Meta::fromDisk(file)) return false;
    readHashSets(file);
    return true;
}

bool FileMeta::readLegacy(i4_file* file) {
    modificationTime_ = file->read_32();
    fileHash_.read(file);
    uint8_t* parts = nullptr;
    uint32_t count = 0;
    readPartList(file, &parts, &count);
    Bytes held(parts);
    if (!Meta::fromDisk(file)) return false;
    // The list is checked against the part count the size tag gives.
    acceptParts(held.release(), count);
    return true;
}

bool FileMeta::fromDisk(i4_file* file) {
    i4_pos start = file->tell();
    dropHashes();
    try {
        if (file->read_8() == kFileMetaVersion && readVersion2(file)) return true;
    } catch (const i4_err&) {
    }
    // Not a version-2 record (or one that does not read as such): the
    // legacy form, whose first byte is the low byte of its time.
    dropHashes();
    if (file->seek(start) != start) return false;
    try {
        return readLegacy(file);
    } catch (const i4_err&) {
        return false;
    }
}

bool FileMeta::toNetwork(i4_file* file) {
    bool ok = fileHash_.write(file) == kUniqueIdSize;
    ok = file->write_32(0) == 4 && ok;
    ok = file->write_16(0) == 2 && ok;
    return Meta::toNetwork(file) && ok;
}

bool FileMeta::fromNetwork(i4_file* file) {
    try {
        fileHash_.read(file);
        file->read_32();
        file->read_16();
    } catch (const i4_err&) {
        return false;
    }
    return Meta::fromNetwork(file);
}

int FileMeta::wireSize() { return kFileMetaWireFixed + Meta::wireSize(); }

void FileMeta::copyFrom(const Meta* other) {
    if (!other || other == this) return;
    Meta::copyFrom(other);
    const auto* source = dynamic_cast<const FileMeta*>(other);
    if (!source) return;
    path_ = source->path_;
    modificationTime_ = source->modificationTime_;
    if (!fileHash_.equals(source->fileHash_)) dropHashes();
    fileHash_ = source->fileHash_;
    if (source->hasPartArray() && source->partCount_ == partCount()) {
        size_t length = static_cast<size_t>(source->partCount_) * kUniqueIdSize;
        auto* copy = static_cast<uint8_t*>(i4_malloc(length));
        memcpy(copy, source->partHashes_, length);
        setParts(copy, source->partCount_);
    }
    if (source->hasCrumbArray() && source->crumbCount_ == crumbCount()) {
        size_t length = static_cast<size_t>(source->crumbCount_) * kCrumbHashSize;
        auto* copy = static_cast<uint8_t*>(i4_malloc(length));
        memcpy(copy, source->crumbHashes_, length);
        setCrumbs(copy, source->crumbCount_);
    }
}

void FileMeta::print(bool withHashes) {
    Meta::print();
    char* hex = fileHash_.toHex();
    metaPrint("Path: %s", printableText(path_.c_str()).c_str());
    metaPrint("Hash: %s", hex);
    i4_free(hex);
    if (!withHashes) return;
    for (uint32_t i = 0; hasPartArray() && i < partCount_; i++) {
        UniqueID part;
        part.copy(partHashes_ + static_cast<size_t>(i) * kUniqueIdSize);
        char* text = part.toHex();
        metaPrint("PartHash: %d) %s", static_cast<int>(i), text);
        i4_free(text);
    }
    for (uint32_t i = 0; hasCrumbArray() && i < crumbCount_; i++) {
        const uint8_t* bytes = crumbHashes_ + static_cast<size_t>(i) * kCrumbHashSize;
        char text[kCrumbHashSize * 2 + 1];
        for (int k = 0; k < kCrumbHashSize; k++) snprintf(text + 2 * k, 3, "%02x", bytes[k]);
        metaPrint("Crumb: %d) %s", static_cast<int>(i), text);
    }
}
