// Reading files for hashing: the one place where the digest code opens a
// file by path, and the block reader shared by the digest procedures.
#pragma once

#include "v4ada/file/file.h"

// Size of one read while hashing. Digests do not depend on it.
constexpr int kHashBlockSize = 64 * 1024;

// Opens the file at `path` for reading raw bytes; null when it cannot be
// opened. The caller deletes the result.
i4_file* openHashInput(const char* path);

// Reads exactly n bytes, taking as many reads as the stream needs; false
// when the stream ends or fails first.
bool readFully(i4_file* file, void* buffer, int n);
