// File status records and directory listings.
#pragma once

#include <cstdint>
#include <vector>

#include "v4ada/string/owned_string.h"

// What a path names (links followed). Only regular files hold data that
// can be read to an end: a FIFO or a device may block a reader forever.
enum class FileKind : int32_t { kOther = 0, kRegular = 1, kDirectory = 2 };

struct FileStatus {
    int64_t modified = 0;  // seconds since 1970
    int64_t accessed = 0;
    int64_t changed = 0;   // status change
    int32_t directory = 0;  // 1 or 0
    int64_t size = 0;      // bytes
    FileKind kind = FileKind::kOther;
};

struct DirListing {
    DirListing();
    // Plain file names (anything that is not a directory), in read order.
    std::vector<OwnedString> files;
    // Sub-directory names, "." and ".." included.
    std::vector<OwnedString> dirs;
    // Parallel to dirs: 1 when the entry is a symbolic link to a directory,
    // so that a walk over the tree can avoid following it into a loop.
    std::vector<uint8_t> dirIsLink;
    // Parallel to files, filled only when status is asked.
    std::vector<FileStatus> status;
};

// Clears the directory flag, then on a successful stat fills the record;
// false when stat fails.
bool fs_status(const char* path, FileStatus& out);

// Whether the path can be opened as a directory (nothing is read).
bool fs_is_listable(const char* path);

// Appends the entries of the directory to the listing (it is not cleared).
// The process-wide current directory is left alone, so listings may run
// on several threads at once. False when the directory cannot be opened.
bool fs_list_directory(const char* path, DirListing& listing, bool withStatus);

// Sort columns of fs_sort_listing.
constexpr int kSortModified = 0;
constexpr int kSortAccessed = 1;
constexpr int kSortChanged = 2;
constexpr int kSortSize = 3;

// Sorts the file names together with their status records, ascending by
// one column; nothing with fewer than two status records or when the
// status records do not match the file names.
void fs_sort_listing(DirListing& listing, int column);
