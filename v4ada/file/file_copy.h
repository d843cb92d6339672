// Copies between files on disk, used for moves across file systems and by
// the downloads' part files. Every copy checks each read and write and
// reaches the disk (fsync) before anything is removed or cut.
#pragma once

#include "v4ada/file/file.h"

class i4_unix_file_class;

// Block size of the copies.
constexpr int kFsCopyBlock = 40960;

// Copies count bytes from the source's current position to the
// destination's; true only when all arrived.
bool fs_copy_bytes(i4_unix_file_class* from, i4_unix_file_class* to, i4_pos count);

// Appends the whole source to the end of the destination (copied inside
// the kernel where the file systems allow it). True only when every byte
// was appended and synced; on failure the destination is cut back to its
// old length.
bool fs_append_file(const char* destination, const char* source);

// Moves the last n bytes of the source into the destination (which is
// replaced). n equal to the source size moves the whole file (fs_move);
// a smaller n copies the tail and then cuts the source to size - n. False,
// with the source as it was, when n is larger than the size or anything
// fails.
bool fs_move_tail(const char* source, const char* destination, i4_pos n);
