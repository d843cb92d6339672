#include "core/meta/special_tags.h"

#include <atomic>

#include "core/meta/meta_tag.h"
#include "v4ada/error/error.h"

namespace {

struct SpecialTagTable {
    SpecialTagInfo entries[kSpecialTagLast + 1];  // entry 0 stays empty
};

std::atomic<SpecialTagTable*> g_table{nullptr};

bool isSpecialId(int id) { return id >= kSpecialTagFirst && id <= kSpecialTagLast; }

struct Row {
    int id;
    uint8_t type;
    const char* displayName;
};

constexpr Row kRows[] = {
    {ST_NAME, kTagString, "Name"},
    {ST_SIZE, kTagInt, "Size"},
    {ST_TYPE, kTagString, "Type"},
    {ST_FORMAT, kTagString, "Format"},
    {ST_COLLECTION_TYPE, kTagString, "Collection Type"},
    {ST_PART_PATH, kTagString, "Part path"},
    {ST_PART_HASH, kTagHash, "Part Hash"},
    {ST_PART_TRANS, kTagInt, "part trans"},
    {ST_GAP_START, kTagInt, "gap start"},
    {ST_GAP_END, kTagInt, "gap end"},
    {ST_DESCRIPTION, kTagString, "Description"},
    {ST_PING, kTagInt, "ping"},
    {ST_HISTORY, kTagInt, "history"},
    {ST_PREF, kTagInt, "pref"},
    {ST_PORT, kTagInt, "Port"},
    {ST_IP, kTagInt, "IP"},
    {ST_VERSION, kTagInt, "Version"},
    {ST_TEMP_FILE_NAME, kTagString, "tempFileName"},
    {ST_UPLOAD_PRIORITY, kTagInt, "Priority"},
    {ST_STATE, kTagInt, "state"},
    {ST_AVAILABILITY, kTagInt, "Availability"},
    {ST_QTIME, kTagInt, "QTime"},
    {ST_PARTS, kTagInt, "parts"},
    {ST_DOWNLOAD_PRIORITY, kTagInt, "Priority"},
};
static_assert(sizeof kRows / sizeof kRows[0] == kSpecialTagLast);

}  // namespace

void initSpecialTags() {
    if (g_table.load()) return;
    auto* table = new SpecialTagTable();
    for (const Row& row : kRows) {
        SpecialTagInfo& entry = table->entries[row.id];
        entry.type = row.type;
        entry.displayName = row.displayName;
        entry.codeName[0] = static_cast<char>(row.id);
        entry.codeName[1] = 0;
    }
    SpecialTagTable* expected = nullptr;
    if (!g_table.compare_exchange_strong(expected, table)) delete table;
}

void resetSpecialTags() { delete g_table.exchange(nullptr); }

const SpecialTagInfo* specialTagInfo(int id) {
    SpecialTagTable* table = g_table.load();
    if (!table || !isSpecialId(id)) return nullptr;
    return &table->entries[id];
}

const char* specialCodeName(int id) {
    const SpecialTagInfo* info = specialTagInfo(id);
    if (!info) error_at(__FILE__, __LINE__)("no special tag %d", id);
    return info->codeName;
}
