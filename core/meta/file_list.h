// FileList: a locked list of file records (known files, shared files, a
// peer's listing, search results).
#pragma once

#include <cstdint>

#include "core/meta/file_meta.h"
#include "core/meta/meta_list.h"

class FileList : public MetaList {
public:
    Meta* newElement() override { return new FileMeta(); }
    // True when an entry with the same file hash is already listed (the
    // record is then not added); otherwise appends it and returns false.
    virtual bool add(FileMeta* record);
    // The first entry with that file hash (16 bytes), null when none.
    FileMeta* findByHash(const uint8_t* hash);
    // The first entry whose size, time and name match.
    FileMeta* findBySizeTimeName(uint32_t size, uint32_t time, const char* name);
};
