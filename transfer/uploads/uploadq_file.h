// uploadq.dat: the upload queue kept across restarts (its path comes from
// the transfer options). Little-endian:
//
//   offset 0: i64 saved: time of writing, seconds since the epoch
//          8: u32 groups: number of file queues + 1
//   then per group:  u32 n: entries that follow in this group
//   then per entry:  16-byte file hash (all zero for an empty slot)
//                    user: UserMeta file form (core/meta/user_meta.h:
//                          u32 IP | u16 port | 16 user hash | u32 tag
//                          count | tags)
//
// Group 0 holds the upload slots in order (the hash of the slot's upload
// or zeros, and the user it serves or invites, or an empty record); then
// one group per file queue in queue order, each entry the queue's hash and
// one waiting user. The counts are those written, so every group reads
// back exactly.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/meta/user_meta.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/file/file.h"

constexpr int kUploadqSavedAt = 0;
constexpr int kUploadqGroupsAt = 8;
constexpr int kUploadqHeaderSize = 12;
constexpr int kUploadqCountSize = 4;
constexpr int kUploadqHashSize = 16;
// A larger file is not read (far above any queue this client keeps).
constexpr int64_t kUploadqMaxFile = 64ll << 20;

struct UploadqEntry {
    UniqueID hash;
    UserMeta user;
};

// A slot's entry with nothing in it: the zero hash and an empty user.
bool isEmptyUploadqEntry(const UploadqEntry& entry);

// The writer's steps, in file order. Each is false when a write failed.
bool writeUploadqHeader(i4_file* out, int64_t saved, uint32_t groups);
bool writeUploadqCount(i4_file* out, uint32_t entries);
bool writeUploadqEntry(i4_file* out, const UniqueID& hash, UserMeta& user);

// Reads the file form from a stream, checking every count against the
// bytes left.
class UploadqReader {
public:
    explicit UploadqReader(i4_file* in) : in_(in) {}

    // The saved time and the group count; false when the stream ends first.
    bool readHeader();
    int64_t saved() const { return saved_; }
    // The next entry in file order; false at the end of the last group, or
    // when the data is damaged (damaged() then tells).
    bool next(UploadqEntry& out);
    bool damaged() const { return damaged_; }

private:
    bool fail();

    i4_file* in_;
    int64_t saved_ = 0;
    uint32_t groupsLeft_ = 0;
    uint32_t entriesLeft_ = 0;
    bool damaged_ = false;
};

// Writes uploadq.dat through the safe file. A save can run on the storage
// worker: a save made later is never overwritten by an earlier one still
// waiting there. A failure prints "Upload Queue not saved".
class UploadqSaver {
public:
    UploadqSaver();
    // Writes now; true when the new content is in place.
    bool saveNow(const char* path, std::vector<uint8_t> bytes);
    // Hands the write to the storage worker, or writes now without one.
    void saveLater(const char* path, std::vector<uint8_t> bytes);

private:
    struct State;
    class Job;
    std::shared_ptr<State> state_;
};
