// TempNameAllocator: fresh data file names "<n>.part" in the temporary
// directory. Numbers count up from 1 after each start; a number is
// skipped while the data file, its record "<n>.part.met" or the record's
// backup "<n>.part.met.bak" exists (a record kept by a failed load must not
// be taken over). A name that cannot be checked (the directory is not
// searchable, or is not a directory) fails the allocation with a message.
// Any thread: two downloads never get the same name.
#pragma once

#include <cstdint>

#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class TempNameAllocator {
public:
    TempNameAllocator() = default;
    TempNameAllocator(const TempNameAllocator&) = delete;
    TempNameAllocator& operator=(const TempNameAllocator&) = delete;

    // "<n><extension>" (extension ".part" when null), free in directory;
    // a null text when every number is taken or a name cannot be checked.
    OwnedString allocate(const char* directory, const char* extension = nullptr);
    // Numbering starts again at 1.
    void reset();

private:
    SysMutex mutex_;
    uint32_t counter_ TS_GUARDED_BY(mutex_) = 0;
};
