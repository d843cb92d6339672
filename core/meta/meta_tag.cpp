#include "core/meta/meta_tag.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/meta/read_limits.h"
#include "core/meta/special_tags.h"
#include "v4ada/error/error.h"
#include "v4ada/file/file.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/string/cstring.h"

namespace {

constexpr int kSkipChunk = 256;

// Reads an encoded string keeping at most `maximum` bytes and consuming
// the whole item. False for the refused length 0xFFFF and for a length
// beyond the bytes left; data ending inside raises i4_err.
bool readCappedString(i4_file* file, uint32_t maximum, OwnedString& out) {
    uint16_t length = file->read_16();
    if (length == kStringRefusedLength || length > bytesLeft(file)) return false;
    uint32_t keep = length < maximum ? length : maximum;
    char kept[kTagStringReadMax > kTagNameReadMax ? kTagStringReadMax + 1 : kTagNameReadMax + 1];
    if (keep >= sizeof kept) keep = sizeof kept - 1;
    file->readAll(kept, static_cast<int>(keep));
    kept[keep] = 0;
    char scratch[kSkipChunk];
    for (uint32_t left = length - keep; left > 0;) {
        int step = left < sizeof scratch ? static_cast<int>(left) : kSkipChunk;
        file->readAll(scratch, step);
        left -= static_cast<uint32_t>(step);
    }
    // A name may hold a zero byte; the text ends there, as it always has.
    out = OwnedString(kept, static_cast<int>(keep));
    return true;
}

bool writeText(i4_file* file, const char* text) {
    i4_write_string(text, file);  // raises on a failed or refused write
    return true;
}

}  // namespace

// --- base ------------------------------------------------------------------

int MetaTag::wireSize() {
    int nameLength = name_.isEmpty() ? 1 : name_.length();
    return 1 + 2 + nameLength + valueSize();
}

bool MetaTag::hasName(const char* name) const { return !name_.isNull() && name && name_.equals(name); }

bool MetaTag::writeHeader(i4_file* file) const {
    try {
        if (file->write_8(type_) != 1) return false;
        return writeText(file, name_.isEmpty() ? kUnnamedTagName : name_.c_str());
    } catch (const i4_err&) {
        debug_printf("**I4 error in MetaTag::toBytes()\n");
        return false;
    }
}

bool MetaTag::toBytes(i4_file* file) {
    bool header = writeHeader(file);
    // The value follows whatever the header reported, as readers expect.
    bool value = writeValue(file);
    return header && value;
}

bool MetaTag::fromBytes(i4_file* file) {
    specialId_ = 0;
    name_ = OwnedString(static_cast<const char*>(nullptr));
    OwnedString name;
    bool named;
    try {
        named = readCappedString(file, kTagNameReadMax, name);
    } catch (const i4_err&) {
        named = false;
    }
    if (!named) return false;  // 0xFFFF, too long for the data, or cut short
    if (!name.equals(kUnnamedTagName)) {
        if (name.length() <= 1) specialId_ = static_cast<int8_t>(name.c_str()[0]);
        name_ = static_cast<OwnedString&&>(name);
    }
    return readValue(file);
}

MetaTag* MetaTag::clone() const {
    MetaTag* copy = makeTag(type_, name_.c_str(), value());
    if (copy) copy->specialId_ = specialId_;
    return copy;
}

MetaTag* MetaTag::makeTag(int type, const char* name, const void* value) {
    MetaTag* tag;
    switch (type) {
        case kTagHash: tag = new MetaTag128(); break;
        case kTagString: tag = new MetaTagString(); break;
        case kTagInt: tag = new MetaTagInt(); break;
        case kTagFloat: tag = new MetaTagFloat(); break;
        case kTagBool: tag = new MetaTagBool(); break;
        case kTagBoolArray: tag = new MetaTagBoolArray(); break;
        case kTagBlob: tag = new MetaTagBlob(); break;
        case kTag64: tag = new MetaTag64(); break;
        default:
            console_printf("ERROR: unknown type MetaTag::makeTag() %d\n", type);
            return nullptr;
    }
    tag->name_ = OwnedString(name);
    // A string tag made without a text keeps a null text.
    if (value || type != kTagString) tag->setValue(value);
    return tag;
}

MetaTag* MetaTag::makeSpecial(int id, const void* value) {
    const SpecialTagInfo* info = specialTagInfo(id);
    if (!info) error_at(__FILE__, __LINE__)("no special tag %d", id);
    MetaTag* tag = makeTag(info->type, info->codeName, value);
    if (tag) tag->specialId_ = id;
    return tag;
}

MetaTag* MetaTag::makeTagFromBytes(i4_file* file) {
    uint8_t type = file->read_8();
    MetaTag* tag = makeTag(type, nullptr, nullptr);
    if (!tag) {
        console_printf("error in tag from bytes\n");
        return nullptr;
    }
    bool ok;
    try {
        ok = tag->fromBytes(file);
    } catch (...) {
        delete tag;
        throw;
    }
    if (!ok) {
        console_printf("error in tag from bytes\n");
        delete tag;
        return nullptr;
    }
    return tag;
}

const char* MetaTag::displayName() const {
    if (const SpecialTagInfo* info = specialTagInfo(specialId_)) return info->displayName;
    return name_.c_str() ? name_.c_str() : "";
}

// --- hash ------------------------------------------------------------------

void MetaTag128::setValue(const void* value) {
    if (value) {
        hash_.copy(value);
    } else {
        hash_ = UniqueID();
    }
}

const char* MetaTag128::valueText(char* buffer, int length) const {
    if (length <= 0) return buffer;
    char* hex = hash_.toHex();
    snprintf(buffer, static_cast<size_t>(length), "%s", hex);
    i4_free(hex);
    return buffer;
}

bool MetaTag128::writeValue(i4_file* file) const { return hash_.write(file) == kUniqueIdSize; }

bool MetaTag128::readValue(i4_file* file) {
    hash_.read(file);
    return true;
}

// --- string ----------------------------------------------------------------

bool MetaTagString::toBytes(i4_file* file) {
    bool header = writeHeader(file);
    try {
        writeValue(file);
    } catch (const i4_err&) {
        debug_printf("**I4 error in MetaTagString::toBytes()\n");
        return false;
    }
    return header;
}

void MetaTagString::setValue(const void* value) {
    text_ = OwnedString(static_cast<const char*>(value), static_cast<int>(kTagStringReadMax));
    if (!value) text_ = OwnedString(static_cast<const char*>(nullptr));
}

const char* MetaTagString::valueText(char* buffer, int length) const {
    if (text_.isNull()) return nullptr;
    if (length <= 0) return buffer;
    snprintf(buffer, static_cast<size_t>(length), "%s", text_.c_str());
    return buffer;
}

bool MetaTagString::writeValue(i4_file* file) const { return writeText(file, text_.c_str()); }

bool MetaTagString::readValue(i4_file* file) {
    try {
        return readCappedString(file, kTagStringReadMax, text_);
    } catch (const i4_err&) {
        return false;
    }
}

// --- integer ---------------------------------------------------------------

void MetaTagInt::setValue(const void* value) {
    value_ = 0;
    if (value) memcpy(&value_, value, sizeof value_);
}

const char* MetaTagInt::valueText(char* buffer, int length) const {
    if (length > 0) snprintf(buffer, static_cast<size_t>(length), "%d", value_);
    return buffer;
}

bool MetaTagInt::writeValue(i4_file* file) const { return file->write_32(static_cast<uint32_t>(value_)) == 4; }

bool MetaTagInt::readValue(i4_file* file) {
    value_ = static_cast<int32_t>(file->read_32());
    return true;
}

// --- float -----------------------------------------------------------------

void MetaTagFloat::setValue(const void* value) {
    value_ = 0.0f;
    if (value) memcpy(&value_, value, sizeof value_);
}

const char* MetaTagFloat::valueText(char* buffer, int length) const {
    if (length > 0) snprintf(buffer, static_cast<size_t>(length), "%f", static_cast<double>(value_));
    return buffer;
}

bool MetaTagFloat::writeValue(i4_file* file) const { return file->write_float(value_) == 4; }

bool MetaTagFloat::readValue(i4_file* file) {
    value_ = file->read_float();
    return true;
}

// --- boolean ---------------------------------------------------------------

void MetaTagBool::setValue(const void* value) {
    value_ = value && *static_cast<const uint8_t*>(value) ? 1 : 0;
}

const char* MetaTagBool::valueText(char* buffer, int length) const {
    if (length > 0) snprintf(buffer, static_cast<size_t>(length), "%s", value_ ? "true" : "false");
    return buffer;
}

bool MetaTagBool::writeValue(i4_file* file) const { return file->write_8(value_) == 1; }

bool MetaTagBool::readValue(i4_file* file) {
    value_ = file->read_8() ? 1 : 0;
    return true;
}

// --- bit array -------------------------------------------------------------

void MetaTagBoolArray::setValue(const void* value) {
    if (value) {
        bits_.assign(static_cast<const BoolArray*>(value));
    } else {
        bits_.resize(0);
    }
}

const char* MetaTagBoolArray::valueText(char* buffer, int) const { return buffer; }

int MetaTagBoolArray::valueSize() const {
    return bits_.count() ? 2 + static_cast<int>(bits_.count() / 8 + 1) : 2;
}

bool MetaTagBoolArray::writeValue(i4_file* file) const {
    bits_.write(file);  // raises when a write fails
    return true;
}

bool MetaTagBoolArray::readValue(i4_file* file) {
    bits_.read(file);
    return true;
}

// --- blob ------------------------------------------------------------------

MetaTagBlob::~MetaTagBlob() { i4_free(blob_.bytes); }

void MetaTagBlob::replace(uint32_t length, uint8_t* bytes) {
    i4_free(blob_.bytes);
    blob_.length = length;
    blob_.bytes = bytes;
}

void MetaTagBlob::setValue(const void* value) {
    const auto* source = static_cast<const MetaBlob*>(value);
    if (!source || source->length == 0 || !source->bytes) {
        replace(0, nullptr);
        return;
    }
    auto* copy = static_cast<uint8_t*>(i4_malloc(source->length));
    memcpy(copy, source->bytes, source->length);
    replace(source->length, copy);
}

const char* MetaTagBlob::valueText(char* buffer, int) const { return buffer; }

bool MetaTagBlob::writeValue(i4_file* file) const {
    if (file->write_32(blob_.length) != 4) return false;
    if (blob_.length == 0) return true;
    return file->write(blob_.bytes, static_cast<int>(blob_.length)) == static_cast<int>(blob_.length);
}

bool MetaTagBlob::readValue(i4_file* file) {
    uint32_t length = file->read_32();
    if (length > kTagBlobMax || length > bytesLeft(file)) return false;
    if (length == 0) {
        replace(0, nullptr);
        return true;
    }
    auto* bytes = static_cast<uint8_t*>(i4_malloc(length));
    try {
        file->readAll(bytes, static_cast<int>(length));
    } catch (...) {
        i4_free(bytes);
        throw;
    }
    replace(length, bytes);
    return true;
}

// --- 64-bit integer --------------------------------------------------------

void MetaTag64::setValue(const void* value) {
    value_ = 0;
    if (value) memcpy(&value_, value, sizeof value_);
}

const char* MetaTag64::valueText(char* buffer, int length) const {
    if (length > 0) snprintf(buffer, static_cast<size_t>(length), "%" PRId64, value_);
    return buffer;
}

bool MetaTag64::writeValue(i4_file* file) const { return file->write_64(static_cast<uint64_t>(value_)) == 8; }

bool MetaTag64::readValue(i4_file* file) {
    value_ = static_cast<int64_t>(file->read_64());
    return true;
}
