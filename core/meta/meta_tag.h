// MetaTag: one typed, named value; records are lists of tags. A tag has a
// single encoding for files and the wire (integers little-endian):
//   u8 type code (1..8) | u16 name length + name bytes | value
// An unnamed tag is written with the name "n"; a special tag's name is one
// byte, its id (see special_tags.h). Reading keeps at most 100 name bytes
// and 128 string bytes, always consuming the whole encoded item.
#pragma once

#include <cstdint>

#include "core/meta/serializable.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/string/owned_string.h"

class i4_file;

constexpr uint8_t kTagHash = 1;       // 16 raw bytes
constexpr uint8_t kTagString = 2;     // u16 length + bytes
constexpr uint8_t kTagInt = 3;        // s32
constexpr uint8_t kTagFloat = 4;      // IEEE-754 bit pattern, u32
constexpr uint8_t kTagBool = 5;       // one byte, 0 or 1
constexpr uint8_t kTagBoolArray = 6;  // u16 count, then count/8 + 1 bytes when count != 0
constexpr uint8_t kTagBlob = 7;       // u32 length + bytes
constexpr uint8_t kTag64 = 8;         // s64
constexpr uint8_t kTagTypeFirst = kTagHash;
constexpr uint8_t kTagTypeLast = kTag64;

// The name an unnamed tag is written with (and that reads back unnamed).
constexpr const char* kUnnamedTagName = "n";

// The value of a blob tag.
struct MetaBlob {
    uint32_t length = 0;
    uint8_t* bytes = nullptr;  // null when length is 0
};

class MetaTag : public Serializable {
public:
    ~MetaTag() override = default;
    MetaTag(const MetaTag&) = delete;
    MetaTag& operator=(const MetaTag&) = delete;

    bool toNetwork(i4_file* file) override { return toBytes(file); }
    bool fromNetwork(i4_file* file) override { return fromBytes(file); }
    bool toDisk(i4_file* file) override { return toBytes(file); }
    bool fromDisk(i4_file* file) override { return fromBytes(file); }
    int wireSize() override;

    // Writes the whole tag. False when the type or name could not be
    // written (the value is written all the same) or a write fell short.
    virtual bool toBytes(i4_file* file);
    // Reads name and value (the type byte is already consumed). False when
    // the name or a string/blob value is unreadable or out of limits; data
    // ending inside any other value raises i4_err.
    virtual bool fromBytes(i4_file* file);
    // A new tag of the same kind, name, special id and value.
    virtual MetaTag* clone() const;
    // The value: 16 bytes, the text (null when made without one), int32_t,
    // float, uint8_t, BoolArray, MetaBlob, int64_t.
    virtual const void* value() const = 0;
    // Copies from a pointer of the kind's own value type; null gives the
    // kind's empty value. Strings are cut to 128 characters.
    virtual void setValue(const void* value) = 0;
    // The value as text in buffer (length bytes); bit arrays and blobs
    // leave the buffer untouched. A string made without text gives null.
    virtual const char* valueText(char* buffer, int length) const = 0;

    // A tag of kind `type` (1..8) with a copy of the name (null: none) and
    // of the value (null: empty). Another code prints an error, gives null.
    static MetaTag* makeTag(int type, const char* name, const void* value);
    // The special tag `id` (1..24) with the table's kind and code name.
    static MetaTag* makeSpecial(int id, const void* value);
    // Reads a whole tag; null (with a message) on a bad type code or a tag
    // that fails to read. Data ending inside a fixed-size value or the type
    // byte raises i4_err.
    static MetaTag* makeTagFromBytes(i4_file* file);

    // The table's display name for special ids 1..24, else the own name.
    const char* displayName() const;

    uint8_t type() const { return type_; }
    int specialId() const { return specialId_; }
    const OwnedString& name() const { return name_; }
    // True when the tag carries this exact name (unnamed tags match none).
    bool hasName(const char* name) const;

protected:
    explicit MetaTag(uint8_t type) : name_(static_cast<const char*>(nullptr)), type_(type) {}

    // The value's encoding: writeValue false on a short write; readValue
    // false on a value that is out of limits.
    virtual bool writeValue(i4_file* file) const = 0;
    virtual bool readValue(i4_file* file) = 0;
    virtual int valueSize() const = 0;

    // Type byte and name; false (with a debug line) when they could not
    // be written.
    bool writeHeader(i4_file* file) const;

private:

    int specialId_ = 0;
    OwnedString name_;
    uint8_t type_;
};

class MetaTag128 : public MetaTag {
public:
    MetaTag128() : MetaTag(kTagHash) {}
    const void* value() const override { return hash_.bytes(); }
    void setValue(const void* value) override;
    const char* valueText(char* buffer, int length) const override;
    const UniqueID& hash() const { return hash_; }

protected:
    bool writeValue(i4_file* file) const override;
    bool readValue(i4_file* file) override;
    int valueSize() const override { return kUniqueIdSize; }

private:
    UniqueID hash_;
};

class MetaTagString : public MetaTag {
public:
    MetaTagString() : MetaTag(kTagString), text_(static_cast<const char*>(nullptr)) {}
    bool toBytes(i4_file* file) override;
    const void* value() const override { return text_.c_str(); }
    void setValue(const void* value) override;
    const char* valueText(char* buffer, int length) const override;
    const char* text() const { return text_.c_str(); }

protected:
    bool writeValue(i4_file* file) const override;
    bool readValue(i4_file* file) override;
    int valueSize() const override { return 2 + text_.length(); }

private:
    OwnedString text_;
};

class MetaTagInt : public MetaTag {
public:
    MetaTagInt() : MetaTag(kTagInt) {}
    const void* value() const override { return &value_; }
    void setValue(const void* value) override;
    const char* valueText(char* buffer, int length) const override;
    int32_t intValue() const { return value_; }

protected:
    bool writeValue(i4_file* file) const override;
    bool readValue(i4_file* file) override;
    int valueSize() const override { return 4; }

private:
    int32_t value_ = 0;
};

class MetaTagFloat : public MetaTag {
public:
    MetaTagFloat() : MetaTag(kTagFloat) {}
    const void* value() const override { return &value_; }
    void setValue(const void* value) override;
    const char* valueText(char* buffer, int length) const override;
    float floatValue() const { return value_; }

protected:
    bool writeValue(i4_file* file) const override;
    bool readValue(i4_file* file) override;
    int valueSize() const override { return 4; }

private:
    float value_ = 0.0f;
};

class MetaTagBool : public MetaTag {
public:
    MetaTagBool() : MetaTag(kTagBool) {}
    const void* value() const override { return &value_; }
    void setValue(const void* value) override;
    const char* valueText(char* buffer, int length) const override;

protected:
    bool writeValue(i4_file* file) const override;
    bool readValue(i4_file* file) override;
    int valueSize() const override { return 1; }

private:
    uint8_t value_ = 0;
};

class MetaTagBoolArray : public MetaTag {
public:
    MetaTagBoolArray() : MetaTag(kTagBoolArray) {}
    const void* value() const override { return &bits_; }
    void setValue(const void* value) override;
    const char* valueText(char* buffer, int length) const override;

protected:
    bool writeValue(i4_file* file) const override;
    bool readValue(i4_file* file) override;
    int valueSize() const override;

private:
    BoolArray bits_;
};

class MetaTagBlob : public MetaTag {
public:
    MetaTagBlob() : MetaTag(kTagBlob) {}
    ~MetaTagBlob() override;
    const void* value() const override { return &blob_; }
    void setValue(const void* value) override;
    const char* valueText(char* buffer, int length) const override;

protected:
    bool writeValue(i4_file* file) const override;
    bool readValue(i4_file* file) override;
    int valueSize() const override { return 4 + static_cast<int>(blob_.length); }

private:
    void replace(uint32_t length, uint8_t* bytes);
    MetaBlob blob_;
};

class MetaTag64 : public MetaTag {
public:
    MetaTag64() : MetaTag(kTag64) {}
    const void* value() const override { return &value_; }
    void setValue(const void* value) override;
    const char* valueText(char* buffer, int length) const override;

protected:
    bool writeValue(i4_file* file) const override;
    bool readValue(i4_file* file) override;
    int valueSize() const override { return 8; }

private:
    int64_t value_ = 0;
};
