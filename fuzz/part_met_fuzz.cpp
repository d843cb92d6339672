// Reads partial-download records from arbitrary bytes: the version byte,
// the record, its gap pairs, part modification times and bytes done. The
// gaps read must lie in the file, sorted and apart; written again and read
// back they must be the same.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "downloads/storage/gap_list.h"
#include "downloads/storage/part_met.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

constexpr uint32_t kMaxModTags = 512;

std::vector<Gap> readGaps(FileMeta& meta) {
    GapList gaps;
    takeGapTags(meta, meta.size(), gaps);
    return gaps.gaps();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initSpecialTags();
    set_debug_output(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    i4_ram_file_class in(const_cast<uint8_t*>(data), size, 0);
    FileMeta meta;
    uint8_t version = 0;
    OwnedString reason;
    if (!decodePartMet(&in, &version, meta, reason)) return 0;
    std::vector<Gap> gaps = readGaps(meta);
    uint64_t previousEnd = 0;
    for (const Gap& gap : gaps) {
        if (gap.start >= gap.end || gap.end > meta.size()) __builtin_trap();
        if (&gap != &gaps.front() && gap.start <= previousEnd) __builtin_trap();
        previousEnd = gap.end;
    }
    uint32_t time = 0;
    for (uint32_t part = 0; part < meta.partCount() && part < kMaxModTags; part++) takeModTag(meta, part, &time);
    (void)takeBytesDone(meta);
    (void)isPlainFileName(meta.textOf(specialCodeName(ST_TEMP_FILE_NAME)));

    setGapTags(meta, gaps);
    i4_ram_file_class out(nullptr, 0, 1024);
    encodePartMet(version, meta, &out);
    i4_ram_file_class again(out.data(), out.size(), 0);
    FileMeta second;
    uint8_t secondVersion = 0;
    bool read = decodePartMet(&again, &secondVersion, second, reason);
    bool same = read && secondVersion == version && readGaps(second) == gaps;
    i4_free(out.data());
    if (!same) __builtin_trap();
    return 0;
}
