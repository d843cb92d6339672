// Special tags: 24 well-known tags whose name is a single byte, their id.
// The table gives each id its tag kind, the name shown when records are
// printed and its code name (the id byte and a terminator).
//
// The table is process-wide: initSpecialTags creates it at start-up,
// before any record is made or read; resetSpecialTags destroys it (tests).
#pragma once

#include <cstdint>

enum SpecialTagId : int {
    ST_NAME = 1,
    ST_SIZE = 2,
    ST_TYPE = 3,
    ST_FORMAT = 4,
    ST_COLLECTION_TYPE = 5,
    ST_PART_PATH = 6,
    ST_PART_HASH = 7,
    ST_PART_TRANS = 8,
    ST_GAP_START = 9,
    ST_GAP_END = 10,
    ST_DESCRIPTION = 11,
    ST_PING = 12,
    ST_HISTORY = 13,
    ST_PREF = 14,
    ST_PORT = 15,
    ST_IP = 16,
    ST_VERSION = 17,
    ST_TEMP_FILE_NAME = 18,
    ST_UPLOAD_PRIORITY = 19,
    ST_STATE = 20,
    ST_AVAILABILITY = 21,
    ST_QTIME = 22,
    ST_PARTS = 23,
    ST_DOWNLOAD_PRIORITY = 24,
};

constexpr int kSpecialTagFirst = 1;
constexpr int kSpecialTagLast = 24;

struct SpecialTagInfo {
    uint8_t type;             // tag kind made by makeSpecial / Meta::setSpecial
    const char* displayName;  // shown instead of the name when printed
    char codeName[2];         // {id, 0}
};

void initSpecialTags();
void resetSpecialTags();

// The entry of an id 1 to 24; null for any other id or before
// initSpecialTags.
const SpecialTagInfo* specialTagInfo(int id);
// The code name of an id 1 to 24; raises i4_err for any other id or
// before initSpecialTags (callers pass the constants above).
const char* specialCodeName(int id);
