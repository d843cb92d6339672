// The file-system layer: named operations over the POSIX file system that
// the rest of the program uses instead of calling the platform directly.
//
// Paths are passed to the platform as they are: '\\', "c:/" and "x:" are
// ordinary bytes of Linux names. Created files get mode 0666 and created
// directories 0777, both under the process umask.
#pragma once

#include <cstdint>
#include <sys/stat.h>

#include "v4ada/file/file.h"
#include "v4ada/file/fs_listing.h"
#include "v4ada/file/fs_paths.h"
#include "v4ada/string/owned_string.h"

class i4_unix_file_class;

// Open flags of fs_open (a bit set; 3 is read/write).
constexpr int kFsRead = 1;
constexpr int kFsWrite = 2;    // creates a missing file
constexpr int kFsAppend = 4;
constexpr int kFsTruncate = 8;  // wins over kFsAppend

// The open(2) flags for the library's flags (O_CLOEXEC not included):
//   1 with or without 4, 8  read only, no create
//   2 / 3                   write only / read and write, create
//   4, 8 or 12 alone        read only, create
//   + 4                     append (with 2 or 3)
//   + 8                     truncate (with 2 or 3); 8 wins over 4
int fs_open_mode(int flags);

// A new file owned by the caller, or null.
i4_file* fs_open(const char* path, int flags);
i4_unix_file_class* fs_open_unix(const char* path, int flags);
// Opens a regular file for reading without ever waiting on the open: a
// FIFO, a device, a directory or any other kind gives null, as a missing
// file does.
i4_file* fs_open_regular(const char* path);
// The same open as a blocking descriptor owned by the caller, or -1; for
// reading and writing when readWrite holds. Never creates the file.
int fs_open_regular_fd(const char* path, bool readWrite);

bool fs_remove(const char* path);
bool fs_make_dir(const char* path);
bool fs_remove_dir(const char* path);
bool fs_current_dir(OwnedString& out);
bool fs_change_dir(const char* path);
// The platform stat call: 0 on success, -1 on failure.
int fs_stat_raw(const char* path, struct stat* record);
// The same without following a final symbolic link.
int fs_lstat_raw(const char* path, struct stat* record);
bool fs_truncate(const char* path, i4_pos length);

// Fallback of fs_free_space when the file system cannot be asked.
constexpr uint64_t kFsFreeSpaceUnknown = 16777215ull * 65535ull;
// Free bytes for unprivileged users on the file system holding the path;
// kFsFreeSpaceUnknown when the query fails, and then *queried (when given)
// is false.
uint64_t fs_free_space(const char* path, bool* queried = nullptr);

// Rename, with a copy across file systems: 0 on success, 1 on failure.
// The copy replaces the destination (truncating it) and removes the source
// only once the copy is complete and on the disk; a failed copy keeps the
// source and removes the partial destination. When the source cannot be
// removed after a complete copy the result is 1 and both files remain.
int fs_move(const char* from, const char* to);

// Puts a file that could not be read aside as "<path>.corrupt" (or
// "<path>.corrupt.1", ".2" ... when that exists) so that it is not saved
// over; returns the new name, or a null string when the rename failed.
OwnedString fs_keep_aside(const char* path);
