// FileMeta: the record of one file: its tags (name, size, ...), file hash,
// part and crumb hashes, modification time and, for local files, path.
//
// File form (version 2), little-endian:
//   u8 2 | u32 mtime | 16 file hash | Meta form | hash sets
// Legacy file form (read only):
//   u32 mtime | 16 file hash | u16 n + n x 16 part hashes | Meta form
// Hash sets (also the body of a hash-set answer):
//   when parts >= 2:  u8 flag, then parts x 16 bytes when the flag is 1
//   when crumbs >= 2: u8 flag, then crumbs x 8 bytes when the flag is 1
// Wire form:
//   16 file hash | u32 0 | u16 0 | Meta form
// Part and crumb counts follow the size tag: ceil(size / 9,728,000) parts,
// ceil(size / 486,400) crumbs; part hashes exist only with 2 parts or more.
#pragma once

#include <cstdint>

#include "core/meta/hash_context.h"
#include "core/meta/meta.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/string/owned_string.h"

class LL;

constexpr uint8_t kFileMetaVersion = 2;
constexpr int kFileMetaWireFixed = 22;  // hash + u32 + u16 before the tags
constexpr const char* kSentCountTag = "# Sent";
constexpr const char* kLastSeenCompleteTag = "Last Seen Complete";

// ceil(size / kPartSize) and ceil(size / kCrumbSize), in 64-bit.
uint32_t partCountOf(uint64_t size);
uint32_t crumbCountOf(uint64_t size);

class FileMeta : public Meta {
public:
    FileMeta();
    // Prepares the hashing of a local file into `context`: path, name (the
    // part after the last '/'), size. Raises i4_err "couldn't open" when
    // the file cannot be opened and "file of 4 GiB or more" when it is too
    // large to be shared.
    FileMeta(const char* path, HashContext& context);
    ~FileMeta() override;

    bool toNetwork(i4_file* file) override;
    bool fromNetwork(i4_file* file) override;
    bool toDisk(i4_file* file) override;
    // Version 2, falling back to the legacy form when that does not read.
    bool fromDisk(i4_file* file) override;
    int wireSize() override;
    // Tags, path, time, hash and the hashes other holds that fit this
    // record's counts (a plain Meta: tags only).
    void copyFrom(const Meta* other) override;

    // Hashes the next crumb; false once the record is complete.
    bool hashStep(HashContext& context);

    // ST_NAME; a record without one gets "????" first.
    const char* name();
    void setName(const char* name);
    uint32_t size() const;
    void setSize(uint32_t size);
    const OwnedString& path() const { return path_; }
    void setPath(const char* path) { path_ = OwnedString(path); }
    uint32_t modificationTime() const { return modificationTime_; }
    void setModificationTime(uint32_t time) { modificationTime_ = time; }
    const UniqueID& fileHash() const { return fileHash_; }
    void setFileHash(const UniqueID& hash) { fileHash_ = hash; }

    uint32_t partCount() const;
    uint32_t crumbCount() const;
    // Part i's 16 bytes: the file hash for a one-part file, null when the
    // part hashes are missing or i is out of range.
    const uint8_t* partHash(uint32_t i) const;
    // Crumb i's 8 bytes as a little-endian value, 0 when missing.
    uint64_t crumbHash(uint32_t i) const;
    bool partHashesComplete() const;
    bool crumbHashesComplete() const;
    // Replaces the part hashes with a list of UniqueID* holding exactly
    // part-count values (two or more); otherwise nothing.
    void setPartHashes(LL* hashes);
    // Forgets the crumb hashes (the part hashes stay).
    void dropCrumbHashes() { setCrumbs(nullptr, 0); }

    bool writeHashSets(i4_file* file) const;
    // False when the part hashes are absent or do not give the file hash;
    // the crumb hashes are then not taken either. The stream always ends
    // after the whole section; data ending inside raises i4_err.
    bool readHashSets(i4_file* file);
    int hashSetsSize() const;
    // The legacy part-hash list alone; true when the hashes were kept.
    bool readLegacyParts(i4_file* file);

    bool matches(uint32_t size, uint32_t time, const char* name);
    void copyTags(const Meta* other) { Meta::copyFrom(other); }
    // Drops the tags that never leave this client.
    void stripLocalTags();
    void print(bool withHashes);

private:
    bool hasPartArray() const;
    bool hasCrumbArray() const;
    void dropHashes();
    void setParts(uint8_t* parts, uint32_t count);
    void setCrumbs(uint8_t* crumbs, uint32_t count);
    bool readVersion2(i4_file* file);
    bool readLegacy(i4_file* file);
    // Reads u16 n and n hashes into a new buffer (checked against the
    // bytes left; null and false when they do not fit).
    static bool readPartList(i4_file* file, uint8_t** parts, uint32_t* count);
    // Keeps parts when they fit the part count and give the file hash;
    // otherwise frees them. True when kept.
    bool acceptParts(uint8_t* parts, uint32_t count);

    uint8_t* crumbHashes_ = nullptr;  // crumbCount_ x 8 bytes
    uint32_t crumbCount_ = 0;
    uint8_t* partHashes_ = nullptr;   // partCount_ x 16 bytes
    uint32_t partCount_ = 0;
    uint32_t modificationTime_ = 0;
    OwnedString path_;
    UniqueID fileHash_;
};
