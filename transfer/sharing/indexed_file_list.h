// IndexedFileList: a file-record list (known files, shared files) with
// lookups by file hash and by (size, modification time, name) kept in
// step with it, so that neither is a walk over the list. The list owns its
// records.
//
// Every change and every lookup takes the list's own lock (the lock of
// list()), which also guards the indexes and the records' content: the
// hashing thread and the task thread meet here, so records are edited only
// through edit() and read by other threads only as copies.
//
// list() is for readers (walks under its lock, the record-list file and
// wire forms); changing it other than through this class leaves the
// indexes behind.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/meta/file_list.h"
#include "core/meta/meta_list.h"

class UniqueID;
class i4_file;

class IndexedFileList {
public:
    IndexedFileList() = default;
    // Deletes every record.
    ~IndexedFileList();
    IndexedFileList(const IndexedFileList&) = delete;
    IndexedFileList& operator=(const IndexedFileList&) = delete;

    FileList* list() { return &files_; }
    int count();

    // Takes the record over and appends it; false (record not taken) for
    // null or when a record of that hash is listed.
    bool add(FileMeta* record);
    // Appends without the hash check (what a list file holds).
    void append(FileMeta* record);
    // The first record of that hash, null when none. The pointer stays
    // valid only while no other thread may delete records.
    FileMeta* findByHash(const UniqueID& hash);
    bool contains(const UniqueID& hash) { return findByHash(hash) != nullptr; }
    // A new copy of the first record with that size, time and name (the
    // name compared byte for byte, as far as a record keeps it: its first
    // kTagStringReadMax bytes); null when none.
    FileMeta* copyBySizeTimeName(uint32_t size, uint32_t time, const char* name);
    // Runs the edit on the first record of that hash under the lock and
    // indexes it again afterwards; false when none.
    bool edit(const UniqueID& hash, const std::function<void(FileMeta*)>& change);
    // Unlinks the first record of that hash; the caller deletes it.
    FileMeta* take(const UniqueID& hash);
    // Deletes every record.
    void clear();

    // Appends the records of a record-list file.
    MetaListLoad load(const char* path);
    // Appends the records of the record-list file form read from the
    // stream; false when it does not read whole (the records before the
    // fault are kept).
    bool read(i4_file* file);
    // Writes the list through the safe file: the bytes are built under the
    // lock and written after it is released. True when the new file is in
    // place; otherwise the old file stays and the failure is reported.
    // A record with more tags than the reader takes is left out and named,
    // so that one such record cannot cost the whole file at the next load.
    bool save(const char* path);

private:
    using Index = std::unordered_map<std::string, std::vector<FileMeta*>>;

    static std::string hashKey(const UniqueID& hash);
    static std::string stampKey(FileMeta* record);
    static void insert(Index& index, const std::string& key, FileMeta* record);
    static void erase(Index& index, const std::string& key, FileMeta* record);
    void indexLocked(FileMeta* record) TS_REQUIRES(files_.list());
    void unindexLocked(FileMeta* record) TS_REQUIRES(files_.list());
    FileMeta* firstLocked(const UniqueID& hash) TS_REQUIRES(files_.list());
    // Moves every record of the scratch list here.
    void adopt(FileList& read);

    FileList files_;
    Index byHash_ TS_GUARDED_BY(files_.list());
    Index byStamp_ TS_GUARDED_BY(files_.list());
};
