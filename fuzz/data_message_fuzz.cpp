// Reads the data part of peer data messages from arbitrary bytes: the
// first four bytes give the file size, the next twelve up to three
// requested ranges, the rest is the message. A message taken is a range
// inside the file with exactly its bytes after the header; the pieces
// written are inside both the range and the requests, sorted and apart.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "downloads/pool/data_message.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/file/ram_file.h"

namespace {

uint32_t le32At(const uint8_t* data) {
    uint32_t value;
    std::memcpy(&value, data, 4);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    set_debug_output(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kPrefix = 4 + 3 * 8;
    if (size < kPrefix) return 0;
    uint64_t fileSize = le32At(data);
    std::vector<Gap> requests;
    for (int i = 0; i < 3; i++) {
        uint64_t start = le32At(data + 4 + 8 * i);
        uint64_t end = le32At(data + 8 + 8 * i);
        if (start < end) requests.push_back(Gap{start, end});
    }
    i4_ram_file_class in(const_cast<uint8_t*>(data + kPrefix), size - kPrefix, 0);
    uint64_t start = 0;
    uint64_t end = 0;
    if (!readDataHeader(&in, fileSize, &start, &end)) return 0;
    if (start >= end || end > fileSize) __builtin_trap();
    if (in.tell() != static_cast<i4_pos>(kDataHeaderSize) || in.size() - in.tell() != end - start) __builtin_trap();
    std::vector<Gap> pieces;
    clipToRanges(start, end, requests, pieces);
    uint64_t previousEnd = 0;
    for (const Gap& piece : pieces) {
        if (piece.start >= piece.end || piece.start < start || piece.end > end) __builtin_trap();
        if (&piece != &pieces.front() && piece.start <= previousEnd) __builtin_trap();
        bool inside = false;
        for (const Gap& request : requests) inside |= request.start <= piece.start && piece.end <= request.end;
        // Merged pieces may span touching requests; each byte is inside one.
        if (!inside) {
            for (uint64_t at : {piece.start, piece.end - 1}) {
                bool covered = false;
                for (const Gap& request : requests) covered |= request.start <= at && at < request.end;
                if (!covered) __builtin_trap();
            }
        }
        previousEnd = piece.end;
    }
    return 0;
}
