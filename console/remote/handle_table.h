// HandleTable: the u32 ids by which the controller protocol names live
// downloads and upload slots. An object gets the next number (from 1,
// never given twice in the process) when it is first named and keeps it
// until it is dropped; a later object at the same address is a new one.
// Any thread.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "v4ada/threads/linux/sys_mutex.h"

class HandleTable {
public:
    // The object's id, made when it has none.
    uint32_t idFor(const void* object);
    // Its id, or 0 when it has none.
    uint32_t find(const void* object);
    // Forgets the object (its id is never given again).
    void drop(const void* object);
    int count();

private:
    SysMutex lock_;
    std::unordered_map<const void*, uint32_t> ids_ TS_GUARDED_BY(lock_);
    uint32_t last_ = 0;
};
