#include "downloads/storage/part_met.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "v4ada/error/error.h"
#include "v4ada/file/file.h"

namespace {

constexpr char kGapStartByte = static_cast<char>(ST_GAP_START);
constexpr char kGapEndByte = static_cast<char>(ST_GAP_END);
// Decimal digits of a gap index (a u32).
constexpr size_t kMaxIndexDigits = 9;

bool readUnsigned(const Meta& record, const char* name, uint64_t* out) {
    int32_t value = 0;
    if (!record.getIntOut(name, &value)) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

bool encodePartMet(uint8_t version, FileMeta& record, i4_file* out) {
    bool ok = out->write_8(version) == 1;
    return record.toDisk(out) && ok;
}

bool decodePartMet(i4_file* in, uint8_t* version, FileMeta& record, OwnedString& reason) {
    try {
        *version = in->read_8();
    } catch (const i4_err&) {
        reason = "empty record";
        return false;
    }
    if (*version != kPartMetSingleFile && *version != kPartMetPartDirectory) {
        reason.format("not a partial download record (version %d)", static_cast<int>(*version));
        return false;
    }
    if (!record.fromDisk(in)) {
        reason = "record does not read";
        return false;
    }
    return true;
}

OwnedString gapTagName(bool end, uint32_t k) {
    OwnedString name;
    name.format("%c%u", end ? kGapEndByte : kGapStartByte, k);
    return name;
}

bool isGapTagName(const char* name) {
    if (name == nullptr || (name[0] != kGapStartByte && name[0] != kGapEndByte)) return false;
    size_t digits = std::strlen(name + 1);
    if (digits == 0 || digits > kMaxIndexDigits) return false;
    for (size_t i = 1; i <= digits; i++) {
        if (name[i] < '0' || name[i] > '9') return false;
    }
    return true;
}

namespace {

// Gap index of a gap tag's name (the digits after its first byte).
uint32_t gapIndex(const char* name) { return numericPrefix(name + 1); }

}  // namespace

void setGapTags(Meta& record, const std::vector<Gap>& gaps) {
    record.sweepTags([](MetaTag* tag) { return isGapTagName(tag->name().c_str()); });
    uint32_t k = 0;
    for (const Gap& gap : gaps) {
        int32_t start = static_cast<int32_t>(static_cast<uint32_t>(gap.start));
        int32_t end = static_cast<int32_t>(static_cast<uint32_t>(gap.end));
        record.addTag(MetaTag::makeTag(kTagInt, gapTagName(false, k).c_str(), &start));
        record.addTag(MetaTag::makeTag(kTagInt, gapTagName(true, k).c_str(), &end));
        k++;
    }
}

uint32_t takeGapTags(Meta& record, uint64_t size, GapList& gaps) {
    // One pass collects every pair (the first tag of a name counts), then
    // the pairs are taken from k = 0 up to the first incomplete one.
    std::map<uint32_t, std::pair<int64_t, int64_t>> pairs;
    record.sweepTags([&](MetaTag* tag) {
        const char* name = tag->name().c_str();
        if (!isGapTagName(name)) return false;
        if (tag->type() == kTagInt) {
            auto& pair = pairs.try_emplace(gapIndex(name), -1, -1).first->second;
            int64_t& slot = name[0] == kGapStartByte ? pair.first : pair.second;
            if (slot < 0) slot = static_cast<uint32_t>(*static_cast<const int32_t*>(tag->value()));
        }
        return true;
    });
    uint32_t k = 0;
    for (auto it = pairs.begin(); it != pairs.end() && it->first == k; ++it, ++k) {
        auto [start, end] = it->second;
        if (start < 0 || end < 0) break;
        uint64_t clipped = std::min(static_cast<uint64_t>(end), size);
        if (static_cast<uint64_t>(start) < clipped) gaps.addGap(static_cast<uint64_t>(start), clipped);
    }
    return k;
}

OwnedString modTagName(uint32_t part) {
    OwnedString name;
    name.format("%umod", part);
    return name;
}

void setModTag(Meta& record, uint32_t part, uint32_t modificationTime) {
    int32_t value = static_cast<int32_t>(modificationTime);
    record.set(modTagName(part).c_str(), &value, kTagInt);
}

bool takeModTag(Meta& record, uint32_t part, uint32_t* modificationTime) {
    OwnedString name = modTagName(part);
    int32_t value = 0;
    bool found = record.getIntOut(name.c_str(), &value);
    while (record.findTag(name.c_str())) record.removeTag(name.c_str());
    if (found) *modificationTime = static_cast<uint32_t>(value);
    return found;
}

uint64_t takeBytesDone(Meta& record) {
    uint64_t done = 0;
    readUnsigned(record, specialCodeName(ST_PART_TRANS), &done);
    while (record.findSpecial(ST_PART_TRANS)) record.removeSpecial(ST_PART_TRANS);
    return done;
}

bool isPlainFileName(const char* name) {
    if (name == nullptr || name[0] == '\0') return false;
    if (std::strchr(name, '/') != nullptr) return false;
    return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

uint32_t numericPrefix(const char* name) {
    uint64_t value = 0;
    for (const char* at = name; at != nullptr && *at >= '0' && *at <= '9'; at++) {
        value = value * 10 + static_cast<uint64_t>(*at - '0');
        if (value > UINT32_MAX) return 0;
    }
    return static_cast<uint32_t>(value);
}
