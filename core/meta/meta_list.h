// MetaList: a locked list of records (known files, friends, ...).
// File form:  u8 version 14 | u32 LE count | each entry's file form
// Wire form:  u32 LE count | each entry's wire form
// The list deletes its entries only in clear() and copyFrom(); its
// destructor and unlinkAll() leave them to their other holders.
#pragma once

#include <cstdint>

#include "core/meta/meta.h"
#include "core/meta/serializable.h"
#include "v4ada/containers/ll_safe.h"

constexpr uint8_t kMetaListVersion = 14;

// What load() found. kFailed: the file exists but could not be read whole
// (bad version, a bad record, cut short, or unreadable); the entries read
// before the fault stay in the list. The owner must not save over such a
// file before putting it aside (fs_keep_aside), or the records after the
// fault would be lost.
enum class MetaListLoad { kLoaded, kMissing, kFailed };

class MetaList : public Serializable {
public:
    MetaList() = default;
    ~MetaList() override = default;
    MetaList(const MetaList&) = delete;
    MetaList& operator=(const MetaList&) = delete;

    // The version byte, then count and entries under the list's lock. A
    // failing entry is reported; the others are still written.
    bool toDisk(i4_file* file) override;
    // Appends the file's entries to those held. Data ending inside an
    // entry raises i4_err (load() catches it).
    bool fromDisk(i4_file* file) override;
    // Count and entries written under the list's lock.
    bool toNetwork(i4_file* file) override;
    // Appends the packet's entries; a failing entry is dropped and ends
    // the read (the entries before it stay).
    bool fromNetwork(i4_file* file) override;
    // Taken under the list's lock.
    int wireSize() override;
    // For callers that size a packet and write it as one step: hold
    // list()->lock() and use these, which take no lock.
    int wireSizeLocked() TS_REQUIRES(entries_);
    bool toNetworkLocked(i4_file* file) TS_REQUIRES(entries_);

    // The factory of the entries the readers make.
    virtual Meta* newElement();

    virtual MetaListLoad load(const char* path);
    // With safe set the file is replaced only once everything is written
    // (i4_safe_file); the old file stays on any failure. Without it the
    // path is truncated and written in place. True when all was written.
    virtual bool save(const char* path, bool safe);
    // Replaces the entries with copies of other's, each made by copyEntry.
    // The replaced entries are deleted, not only unlinked (which would leak
    // them): no one may keep a pointer to an entry of a list that is copied
    // over. An owner whose entries are also held elsewhere (the friend
    // list: peers point at their friend) must not use it, or must drop
    // those pointers first.
    virtual void copyFrom(MetaList* other);
    // Unlinks from this list every entry that other also holds.
    virtual void removeAll(MetaList* other);

    void add(Meta* record);
    Meta* at(int index);
    int count();
    LLsafe* list() TS_RETURN_CAPABILITY(entries_) { return &entries_; }
    // Deletes every entry.
    void clear();
    // Empties the list without deleting the entries.
    void unlinkAll();

protected:
    // Makes `to` (a fresh newElement()) a copy of `from`; the default
    // copies the tags through Meta::copyFrom.
    virtual void copyEntry(Meta* to, const Meta* from);

private:
    bool writeEntries(i4_file* file, bool disk);

    LLsafe entries_;
};
