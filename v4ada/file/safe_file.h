// i4_safe_file: the way every settings and list file is read and written.
//
// A reader opens the file as it is. A writer works on "<name>.tmp" beside
// it and close() puts the new content in place: every write is checked,
// the file is synced and renamed over the name, and the directory is
// synced. If anything fails the old file stays untouched, the temporary
// is removed and close() returns false. A writer destroyed without close()
// discards its work and keeps the old file. A crash at any instant leaves
// either the old or the new complete file under the name.
//
// Files left by an interrupted save of older versions, which worked on
// "<name>.bak", are recovered: when the name is missing and "<name>.bak"
// exists, the backup is put back under the name and read or replaced.
//
// Writers of one file are serialised, however its path is written: a
// second writer waits until the first is closed or destroyed (never open
// two on one thread).
//
// A replaced file keeps the old one's permissions, always with read and
// write for its owner (a file saved with mode 000 could never be read back).
#pragma once

#include <string>

#include "v4ada/file/file.h"
#include "v4ada/string/owned_string.h"

class i4_unix_file_class;

// Makes the writer's file over a descriptor; tests inject failures here.
using SafeFileFactory = i4_unix_file_class* (*)(int fd);

class i4_safe_file {
public:
    // flags as for fs_open; a writer has kFsWrite. With a null path
    // nothing is opened.
    i4_safe_file(const char* path, int flags);
    i4_safe_file(const char* path, int flags, SafeFileFactory factory);
    virtual ~i4_safe_file();
    i4_safe_file(const i4_safe_file&) = delete;
    i4_safe_file& operator=(const i4_safe_file&) = delete;

    // The opened file, or null.
    i4_file* file() const;
    // Reader: closes. Writer: commits as above; true when the new content
    // is in place. False when nothing was opened or after a failure.
    bool close();

    bool isWriter() const { return writer_; }
    const OwnedString& name() const { return name_; }
    const OwnedString& backupName() const { return backupName_; }
    const OwnedString& tempName() const { return tempName_; }

private:
    void openReader(int flags);
    void openWriter(int flags, SafeFileFactory factory);
    void recoverBackup();
    void discard();
    void unlock();

    i4_unix_file_class* file_ = nullptr;
    OwnedString name_;
    OwnedString backupName_;
    OwnedString tempName_;
    std::string lockKey_;  // the path lock held from construction
    bool writer_ = false;
    bool locked_ = false;
};

// Replaces the file at path with the bytes through the safe file (one
// write); true when the new content is in place. For owners that build the
// content in memory under their lock and write it after letting go.
bool i4_safe_write(const char* path, const void* bytes, i4_pos length);
