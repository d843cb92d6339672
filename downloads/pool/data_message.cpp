#include "downloads/pool/data_message.h"

#include <algorithm>

#include "core/meta/read_limits.h"

bool readDataHeader(i4_file* reader, uint64_t fileSize, uint64_t* start, uint64_t* end) {
    if (reader == nullptr || bytesLeft(reader) < static_cast<i4_pos>(kDataHeaderSize)) return false;
    uint64_t first = reader->read_32();
    uint64_t last = reader->read_32();
    if (first >= last || last > fileSize) return false;
    if (bytesLeft(reader) != last - first) return false;
    *start = first;
    *end = last;
    return true;
}

size_t clipToRanges(uint64_t start, uint64_t end, std::vector<Gap>& ranges, std::vector<Gap>& out) {
    out.clear();
    if (start >= end) return 0;
    // One range holding the whole message: the common case, no sort.
    for (const Gap& range : ranges) {
        if (range.start <= start && end <= range.end) {
            out.push_back(Gap{start, end});
            return 1;
        }
    }
    std::sort(ranges.begin(), ranges.end(), [](const Gap& a, const Gap& b) { return a.start < b.start; });
    for (const Gap& range : ranges) {
        uint64_t a = std::max(start, range.start);
        uint64_t b = std::min(end, range.end);
        if (a >= b) continue;
        if (!out.empty() && a <= out.back().end) {
            out.back().end = std::max(out.back().end, b);
        } else {
            out.push_back(Gap{a, b});
        }
    }
    return out.size();
}
