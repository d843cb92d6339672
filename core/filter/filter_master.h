// FilterMaster: the result filter of filters.txt. A search result is
// filtered when one of its string tags contains one of the file's lines,
// letters A to Z compared without case.
//
// The lines are kept as a flat list tested in a loop (the OR of the
// lines), so a file of any number of lines costs no stack.
//
// The task thread owns the one instance; a mutex makes a reload and a test
// exclusive.
#pragma once

#include <cstddef>
#include <vector>

#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class FilterRecord;

class FilterMaster {
public:
    FilterMaster() = default;
    FilterMaster(const FilterMaster&) = delete;
    FilterMaster& operator=(const FilterMaster&) = delete;
    virtual ~FilterMaster() = default;

    // Clears the filter, remembers the path and adds every non-empty line
    // of the file. False when the file cannot be opened (the filter is
    // then empty).
    bool load(const char* path);
    // Clears the filter and adds the lines of filters.txt text held in
    // memory.
    void loadBuffer(const char* data, size_t length);
    // Adds one filter; an empty or null text is ignored.
    void addLine(const char* text);
    void clear();

    bool isFiltered(const FilterRecord& record);
    // Whether the text contains one of the filters.
    bool matchesText(const char* text);

    int lineCount();
    // The line as read (a copy), or a null text outside the list.
    OwnedString line(int index);
    OwnedString path();

private:
    void addLineLocked(const char* text, int length) TS_REQUIRES(mutex_);
    bool matchesLocked(const char* text) const TS_REQUIRES(mutex_);

    SysMutex mutex_;
    OwnedString path_ TS_GUARDED_BY(mutex_);
    std::vector<OwnedString> lines_ TS_GUARDED_BY(mutex_);    // as read
    std::vector<OwnedString> needles_ TS_GUARDED_BY(mutex_);  // the same, letters A to Z lowered
};
