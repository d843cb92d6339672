#include "support/link_download_fake.h"

#include <algorithm>

#include "v4ada/containers/bool_array.h"
#include "v4ada/digest/part_hash.h"

namespace support {

Ranges merged(Ranges ranges) {
    std::sort(ranges.begin(), ranges.end());
    Ranges out;
    for (const Range& range : ranges) {
        if (!out.empty() && range.first <= out.back().second)
            out.back().second = std::max(out.back().second, range.second);
        else
            out.push_back(range);
    }
    return out;
}

FakeLinkDownload::FakeLinkDownload(uint64_t size) : image(size, '\0'), size_(size) {}

void FakeLinkDownload::addSourceLink(const char* link) { links.emplace_back(link ? link : ""); }

uint32_t FakeLinkDownload::crumbCount() { return static_cast<uint32_t>((size_ + kCrumbSize - 1) / kCrumbSize); }

void FakeLinkDownload::changeWeight(const BoolArray* map, int32_t delta) {
    bool all = map && map->count() == crumbCount() && map->allEqual(true);
    weightChanges.push_back(all ? delta : 0);
}

bool FakeLinkDownload::pickPartRange(uint64_t* start, uint64_t* end) {
    if (ranges.empty()) return false;
    *start = ranges.front().first;
    *end = ranges.front().second;
    ranges.pop_front();
    return true;
}

void FakeLinkDownload::writeData(const uint8_t* bytes, uint64_t start, uint64_t end) {
    writes.emplace_back(start, end);
    if (start < end && end <= size_) image.replace(start, end - start, reinterpret_cast<const char*>(bytes), end - start);
    if (afterWrite) afterWrite();
}

bool FakeLinkDownload::writtenMatches(const std::string& expected) const {
    for (const Range& range : writes) {
        if (range.second > expected.size() || range.second > image.size()) return false;
        if (image.compare(range.first, range.second - range.first, expected, range.first, range.second - range.first) != 0)
            return false;
    }
    return true;
}

}  // namespace support
