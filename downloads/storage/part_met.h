// The record file of a partial download, "<n>.part.met", and the tags it
// carries beside the target's own. Little-endian throughout:
//
//   offset 0  u8    record version: 224 single data file, 225 part directory
//   offset 1  ...   the target's FileMeta in its file form:
//                   u8 2 | u32 mtime | 16 file hash | u32 tag count | tags | hash sets
//
// mtime is the data file's modification time at the save (224); the part
// directory form writes 0 and does not read it back. The tags are the
// target's own, then these (special tags and "%dmod" set in place when
// present, gap tags appended):
//
//   ST_PART_TRANS (8)          int  bytes done, low 32 bits, read back unsigned
//   ST_TEMP_FILE_NAME (18)     str  the data file name ("7.part"); empty for 225
//   ST_DOWNLOAD_PRIORITY (24)  int  download priority 0 to 3
//   ST_STATE (20)              int  1 when paused, else 0
//   "%dmod", i from 0          int  225: modification time of part file i,
//                                   only for parts whose data may be trusted
//   byte 9 + k in decimal      int  start of gap k, k from 0, by offset
//   byte 10 + k in decimal     int  end of gap k
//
// Offsets stored in int tags are read back as unsigned 32-bit values.
#pragma once

#include <cstdint>
#include <vector>

#include "downloads/storage/gap_list.h"
#include "v4ada/string/owned_string.h"

class FileMeta;
class Meta;
class i4_file;

constexpr uint8_t kPartMetSingleFile = 224;
constexpr uint8_t kPartMetPartDirectory = 225;
constexpr const char* kPartMetExtension = ".met";
constexpr const char* kPartExtension = ".part";

// Writes the version byte and the record's file form; false when a write
// fell short.
bool encodePartMet(uint8_t version, FileMeta& record, i4_file* out);
// Reads a record: false, with the reason, when the first byte is not 224
// or 225 or the record does not read. Never raises.
bool decodePartMet(i4_file* in, uint8_t* version, FileMeta& record, OwnedString& reason);

// Name of gap tag k: the byte 9 (start) or 10 (end), then k in decimal.
OwnedString gapTagName(bool end, uint32_t k);
// True for a name of that form.
bool isGapTagName(const char* name);
// Removes every gap tag, then appends the pairs of the gaps in order.
void setGapTags(Meta& record, const std::vector<Gap>& gaps);
// Reads the pairs from k = 0 up to the first incomplete one into gaps:
// values unsigned, clipped to [0, size), empty ones dropped, merged by
// addGap. Every gap tag is removed, read or not. Returns the pairs read.
uint32_t takeGapTags(Meta& record, uint64_t size, GapList& gaps);

OwnedString modTagName(uint32_t part);
void setModTag(Meta& record, uint32_t part, uint32_t modificationTime);
// The part's stored modification time, removed from the record; false
// when absent.
bool takeModTag(Meta& record, uint32_t part, uint32_t* modificationTime);

// Tag 8 read back as an unsigned 32-bit count and removed; 0 when absent.
uint64_t takeBytesDone(Meta& record);

// A name that stays inside its directory: not empty, no '/', not "." or
// "..".
bool isPlainFileName(const char* name);
// The decimal number a name starts with ("7.part" gives 7); 0 when none.
uint32_t numericPrefix(const char* name);
