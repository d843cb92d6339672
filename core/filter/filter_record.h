// FilterRecord: what the result filter reads of a search result, the
// values of its tags of the string kind (name, type, format and the other
// text tags). A record type implements it over its tag list: the count of
// its tags, and for each position the text when that tag is of the string
// kind, null for a tag of any other kind.
#pragma once

class FilterRecord {
public:
    virtual ~FilterRecord() = default;
    virtual int filterTagCount() const = 0;
    // The text of the tag at index when it is a string tag, else null.
    virtual const char* filterTextAt(int index) const = 0;
};
