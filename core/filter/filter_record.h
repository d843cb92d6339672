// FilterRecord: what the result filter reads of a search result, the
// values of its tags of the string kind (name, type, format and the other
// text tags). The record types of the core implement it.
#pragma once

class FilterRecord {
public:
    virtual ~FilterRecord() = default;
    // Number of string tags and the value of each, in tag order; a value
    // may be null.
    virtual int stringTagCount() const = 0;
    virtual const char* stringTagValue(int index) const = 0;
};
