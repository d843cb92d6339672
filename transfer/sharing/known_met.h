// known.met: every file this client has hashed, kept so that an unchanged
// file is not hashed again. It is the record-list file form of file
// records, little-endian:
//   u8 14 | u32 count | count x file record:
//     u8 2 | u32 modification time | 16-byte file hash | u32 tag count |
//     tags | part-hash set | crumb-hash set
// (core/meta/meta_list.h and file_meta.h). Paths are not stored.
#pragma once

#include "core/meta/meta_list.h"

class FileList;
class IndexedFileList;

constexpr const char* kErrorLoadingText = "Error loading: %s";
constexpr const char* kOldKnownMetKey = "oldKnownMet";
constexpr const char* kOldKnownMetDefault = "Old known.met";

// The age rule: records of at most one crumb are passed over; the first
// larger record decides. True when it lacks its crumb hashes (the file was
// written before crumb hashes were kept).
bool knownFilesAreOld(FileList* list);

// Appends the records of known.met. A missing file is no fault and says
// nothing. One that does not read whole prints "Error loading: <path>",
// is put aside (reported) so that no later save replaces it, and leaves
// the list empty. One that is old by the age rule prints "Old known.met"
// and leaves the list empty, so that every shared file is hashed anew.
MetaListLoad loadKnownFiles(IndexedFileList& known, const char* path);
// The age rule on a list: empties it, with the message, when it is old.
// True when it was emptied.
bool dropOldKnownFiles(IndexedFileList& known);
