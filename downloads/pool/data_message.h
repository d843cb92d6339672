// The file data of a peer's data message (ICLT_DATA), after its opcode and
// file hash. Little-endian:
//
//   offset 0  u32  start offset in the file
//   offset 4  u32  end offset, exclusive
//   offset 8  end - start bytes of the file's data, up to the message end
//
// A message is sound when start < end <= the file's size and exactly
// end - start bytes follow; anything else fails the message (and the
// connection). Of a sound message only the bytes inside the ranges this
// client requested on that connection are written.
#pragma once

#include <cstdint>
#include <vector>

#include "downloads/storage/gap_list.h"

class i4_file;

constexpr int kDataHeaderSize = 8;

// Reads start and end; true for a sound message, with the reader at the
// data. False leaves the reader anywhere.
bool readDataHeader(i4_file* reader, uint64_t fileSize, uint64_t* start, uint64_t* end);

// The parts of [start, end) inside any of the ranges (in any order,
// possibly overlapping; ranges is sorted in place), merged, by offset.
// Returns how many there are.
size_t clipToRanges(uint64_t start, uint64_t end, std::vector<Gap>& ranges, std::vector<Gap>& out);
