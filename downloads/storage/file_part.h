// FilePart: one 9,728,000-byte part of a download's target file and the
// file that holds its bytes. Byte `base` of the target is byte 0 of that
// file: 0 when all parts share the single data file, the part's own start
// when each part has a file of its own (CompFilePart).
//
// read, write and file() may be called from several threads at once.
#pragma once

#include <cstdint>

#include "downloads/storage/descriptor_cache.h"
#include "downloads/storage/part_check.h"
#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class Meta;

class FilePart {
public:
    // changed: the part's file is missing or not as it was at the last
    // save, so its data is not trusted without checking.
    FilePart(uint64_t base, uint64_t start, uint64_t end, const char* name, bool changed);
    virtual ~FilePart();
    FilePart(const FilePart&) = delete;
    FilePart& operator=(const FilePart&) = delete;

    // Opens the part's own file. A part of the single data file has none:
    // prints "ERROR: makeTempFile\n" and fails.
    virtual bool open();
    // Deletes the part's own file (nothing for a shared one).
    virtual void remove();
    // Stores what the record keeps of the part (nothing for a shared one).
    virtual void saveTags(Meta* record, uint32_t index);
    // Lets go of the part's own file; false when none was open.
    virtual bool close();
    // The file holding the part's bytes; with create, a missing own file
    // is created. Null when there is none.
    virtual FileHandle file(bool create);

    // The shared data file (single-file layout); null detaches it.
    void attach(FileHandle file);

    // Reads [start, start + length) of the target; false when not all of
    // it could be read (debug "Not all readc: ...").
    bool read(void* buffer, uint64_t start, uint32_t length);
    // Writes [start, start + length) of the target (one pwrite, no flush);
    // false when not all was written ("Not all written(%d,%d)\n").
    bool write(const void* buffer, uint64_t start, uint32_t length);
    // The MD4 of [a, b) of the target, read in large blocks without moving
    // any position: kMatch with the digest when all of it was read;
    // kMissing with readableEnd when the file is missing or ends first;
    // kUnreadable on a read error or a range outside the part ("ERROR in
    // FilePart::hash(...)").
    CheckOutcome digest(uint64_t a, uint64_t b, uint8_t* out, uint64_t* readableEnd);

    uint64_t base() const { return base_; }
    uint64_t start() const { return start_; }
    uint64_t end() const { return end_; }
    uint64_t length() const { return end_ - start_; }
    const OwnedString& name() const { return name_; }
    bool changed() const { return changed_; }

protected:
    // The file for an operation; prints "Couldn't create Temp File\n" when
    // there is none.
    FileHandle fileFor(bool create);

    uint64_t base_;
    uint64_t start_;
    uint64_t end_;
    OwnedString name_;
    bool changed_;

private:
    SysMutex lock_;
    FileHandle shared_ TS_GUARDED_BY(lock_);
};
