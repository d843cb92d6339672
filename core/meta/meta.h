// Meta: a record as a list of tags, in insertion order. The record owns
// its tags. File and wire form are the same:
//   u32 LE tag count | each tag's encoding
// Two tags may share a name; lookups find the first. Lookups compare names
// exactly; unnamed tags match no name.
#pragma once

#include <cstdint>
#include <functional>

#include "core/meta/meta_tag.h"
#include "core/meta/serializable.h"
#include "v4ada/containers/ll.h"

// The name a file or user record is given when asked for one it lacks.
constexpr const char* kUnknownName = "????";

class Meta : public Serializable {
public:
    Meta() = default;
    ~Meta() override;
    Meta(const Meta&) = delete;
    Meta& operator=(const Meta&) = delete;

    bool toNetwork(i4_file* file) override;
    bool fromNetwork(i4_file* file) override;
    bool toDisk(i4_file* file) override;
    // Replaces the tags with those read. A tag that fails to read keeps
    // the tags before it; data that ends inside a tag empties the record.
    bool fromDisk(i4_file* file) override;
    int wireSize() override;
    // Replaces the tags with clones of other's (null or this: nothing).
    virtual void copyFrom(const Meta* other);

    // Takes the tag over; no check for an existing name.
    void addTag(MetaTag* tag);
    MetaTag* findTag(const char* name) const;
    MetaTag* findSpecial(int id) const;
    void removeTag(const char* name);
    void removeSpecial(int id);
    void clear();
    int tagCount() const;
    // The tag at a position in insertion order, null beyond the end.
    MetaTag* tagAt(int index) const;
    // Visits every tag in order in one pass; a tag for which visit answers
    // true is removed and deleted. visit must not change the record.
    void sweepTags(const std::function<bool(MetaTag*)>& visit);
    // True when `holds` is true of a tag; one walk, ending at the first.
    bool anyTag(const std::function<bool(MetaTag*)>& holds) const;

    // MetaTag::setValue on the first tag of that name: the value must be
    // of that tag's kind. Prefer set() for tags that may come from input.
    bool setValue(const char* name, const void* value);
    // Sets the first tag of that name, or appends a new tag of `type` when
    // none carries it. A tag of another kind is replaced in place by one
    // of `type`.
    void set(const char* name, const void* value, int type);
    // The same by the id's code name, with the kind the table gives.
    void setSpecial(int id, const void* value);

    const void* valueOf(const char* name) const;
    const void* specialValueOf(int id) const;
    // The text of a string tag of that name; null when absent, when made
    // without a text, or when the tag is of another kind.
    const char* textOf(const char* name) const;

    // Typed getters treat a tag of another kind as absent.
    int32_t getInt(const char* name) const;
    bool getIntOut(const char* name, int32_t* out) const;
    int32_t getSpecialInt(int id) const;
    float getFloat(const char* name) const;

    // The first such tag's text form; an empty text when absent.
    void valueText(const char* name, char* buffer, int length) const;
    // "<display name>: <value text>" for each tag.
    void print() const;

protected:
    // fromNetwork for a record whose sender is not trusted to keep it small:
    // more than maxTags tags, or tags taking more than maxBytes, fail it.
    bool fromNetworkCapped(i4_file* file, int32_t maxTags, i4_pos maxBytes);

private:
    bool setOfKind(const char* name, const void* value, int type, int specialId);
    bool writeTags(i4_file* file);
    // Reads the count and the tags; `network` chooses the message and what
    // happens on a stream error.
    bool readTags(i4_file* file, bool network, int32_t maxTags, i4_pos maxBytes);

    mutable LL tags_;
};
