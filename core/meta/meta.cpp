#include "core/meta/meta.h"

#include <cstdio>

#include "core/meta/meta_messages.h"
#include "core/meta/read_limits.h"
#include "core/meta/special_tags.h"
#include "v4ada/error/error.h"
#include "v4ada/file/file.h"

namespace {
constexpr int kPrintBuffer = 255;
}

Meta::~Meta() { clear(); }

void Meta::addTag(MetaTag* tag) {
    if (tag) tags_.append(tag);
}

MetaTag* Meta::findTag(const char* name) const {
    if (!name) return nullptr;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&tags_, &cursor)) {
        auto* tag = static_cast<MetaTag*>(element);
        if (tag->hasName(name)) return tag;
    }
    return nullptr;
}

MetaTag* Meta::findSpecial(int id) const {
    const SpecialTagInfo* info = specialTagInfo(id);
    return info ? findTag(info->codeName) : nullptr;
}

void Meta::removeTag(const char* name) {
    MetaTag* tag = findTag(name);
    if (!tag) return;
    tags_.remove(tag);
    delete tag;
}

void Meta::removeSpecial(int id) {
    if (const SpecialTagInfo* info = specialTagInfo(id)) removeTag(info->codeName);
}

void Meta::clear() {
    while (void* element = tags_.removeAt(0)) delete static_cast<MetaTag*>(element);
}

int Meta::tagCount() const { return tags_.count(); }

MetaTag* Meta::tagAt(int index) const { return static_cast<MetaTag*>(tags_.at(index)); }

void Meta::sweepTags(const std::function<bool(MetaTag*)>& visit) {
    LLNode* previous = nullptr;  // null stands for the list's head
    for (;;) {
        LLNode* cursor = previous;
        auto* tag = static_cast<MetaTag*>(LL::walk(&tags_, &cursor));
        if (tag == nullptr) return;
        if (visit(tag)) {
            tags_.removeAfter(previous);
            delete tag;
        } else {
            previous = cursor;
        }
    }
}

bool Meta::setValue(const char* name, const void* value) {
    MetaTag* tag = findTag(name);
    if (!tag) return false;
    tag->setValue(value);
    return true;
}

bool Meta::setOfKind(const char* name, const void* value, int type, int specialId) {
    if (!name) return false;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&tags_, &cursor)) {
        auto* tag = static_cast<MetaTag*>(element);
        if (!tag->hasName(name)) continue;
        if (tag->type() == type) {
            tag->setValue(value);
            return true;
        }
        // A tag read from a file or a peer may be of another kind than the
        // caller's value: it is replaced in place, never handed a value of
        // the wrong type.
        MetaTag* fresh = specialId ? MetaTag::makeSpecial(specialId, value) : MetaTag::makeTag(type, name, value);
        if (!fresh) return true;
        cursor->element = fresh;
        delete tag;
        return true;
    }
    return false;
}

void Meta::set(const char* name, const void* value, int type) {
    if (setOfKind(name, value, type, 0)) return;
    addTag(MetaTag::makeTag(type, name, value));
}

void Meta::setSpecial(int id, const void* value) {
    const SpecialTagInfo* info = specialTagInfo(id);
    if (!info) error_at(__FILE__, __LINE__)("no special tag %d", id);
    if (setOfKind(info->codeName, value, info->type, id)) return;
    addTag(MetaTag::makeSpecial(id, value));
}

const void* Meta::valueOf(const char* name) const {
    MetaTag* tag = findTag(name);
    return tag ? tag->value() : nullptr;
}

const void* Meta::specialValueOf(int id) const {
    const SpecialTagInfo* info = specialTagInfo(id);
    return info ? valueOf(info->codeName) : nullptr;
}

const char* Meta::textOf(const char* name) const {
    MetaTag* tag = findTag(name);
    if (!tag || tag->type() != kTagString) return nullptr;
    return static_cast<const char*>(tag->value());
}

int32_t Meta::getInt(const char* name) const {
    int32_t value = 0;
    getIntOut(name, &value);
    return value;
}

bool Meta::getIntOut(const char* name, int32_t* out) const {
    MetaTag* tag = findTag(name);
    if (!tag || tag->type() != kTagInt) return false;
    *out = *static_cast<const int32_t*>(tag->value());
    return true;
}

int32_t Meta::getSpecialInt(int id) const {
    const SpecialTagInfo* info = specialTagInfo(id);
    return info ? getInt(info->codeName) : 0;
}

float Meta::getFloat(const char* name) const {
    MetaTag* tag = findTag(name);
    if (!tag || tag->type() != kTagFloat) return 0.0f;
    return *static_cast<const float*>(tag->value());
}

void Meta::valueText(const char* name, char* buffer, int length) const {
    if (!buffer || length <= 0) return;
    buffer[0] = 0;
    if (MetaTag* tag = findTag(name)) tag->valueText(buffer, length);
}

void Meta::print() const {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&tags_, &cursor)) {
        auto* tag = static_cast<MetaTag*>(element);
        char buffer[kPrintBuffer];
        buffer[0] = 0;
        const char* text = tag->valueText(buffer, sizeof buffer);
        // A size or a gap offset is unsigned 32-bit, kept in the signed tag
        // bit for bit: 2^31 and more read back as themselves.
        // Gap tags are named by their id byte followed by the gap's index.
        int id = tag->specialId();
        if (id == 0 && tag->name().length() > 1) id = static_cast<uint8_t>(tag->name().c_str()[0]);
        if ((id == ST_SIZE || id == ST_GAP_START || id == ST_GAP_END) && tag->type() == kTagInt) {
            uint32_t size = static_cast<uint32_t>(static_cast<const MetaTagInt*>(tag)->intValue());
            snprintf(buffer, sizeof buffer, "%u", size);
            text = buffer;
        }
        metaPrintFlush("%s: %s\n", tag->displayName(), text ? text : "");
    }
}

void Meta::copyFrom(const Meta* other) {
    if (!other || other == this) return;
    clear();
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&other->tags_, &cursor))
        addTag(static_cast<MetaTag*>(element)->clone());
}

int Meta::wireSize() {
    int size = static_cast<int>(kMetaMinEncoded);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&tags_, &cursor)) size += static_cast<MetaTag*>(element)->wireSize();
    return size;
}

bool Meta::writeTags(i4_file* file) {
    try {
        if (file->write_32(static_cast<uint32_t>(tags_.count())) != 4) return false;
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(&tags_, &cursor)) {
            if (!static_cast<MetaTag*>(element)->toBytes(file)) {
                metaPrintRaw("ERROR: Serializable::saveList()3\n");
                return false;
            }
        }
        return true;
    } catch (const i4_err&) {
        return false;
    }
}

bool Meta::toDisk(i4_file* file) { return writeTags(file); }

bool Meta::toNetwork(i4_file* file) { return writeTags(file); }

bool Meta::readTags(i4_file* file, bool network, int32_t maxTags, i4_pos maxBytes) {
    auto fail = [network]() {
        if (network)
            metaDebug("ERROR: Meta::fromNetwork()\n");
        else
            metaPrintRaw("ERROR: Meta::fromDisk()\n");
        return false;
    };
    clear();
    try {
        auto count = static_cast<int32_t>(file->read_32());
        if (count <= 0) return true;
        // Every tag takes at least kTagMinEncoded bytes.
        if (count > maxTags || static_cast<i4_pos>(count) * kTagMinEncoded > bytesLeft(file)) return fail();
        i4_pos start = file->tell();
        for (int32_t i = 0; i < count; i++) {
            MetaTag* tag = MetaTag::makeTagFromBytes(file);
            if (!tag) return fail();
            addTag(tag);
            if (file->tell() - start > maxBytes) {  // too big a record keeps nothing
                clear();
                return fail();
            }
        }
        return true;
    } catch (const i4_err&) {
        if (!network) clear();
        return false;
    }
}

bool Meta::fromDisk(i4_file* file) { return readTags(file, false, kMetaMaxTags, UINT64_MAX); }

bool Meta::fromNetwork(i4_file* file) { return readTags(file, true, kMetaMaxTags, UINT64_MAX); }

bool Meta::fromNetworkCapped(i4_file* file, int32_t maxTags, i4_pos maxBytes) {
    return readTags(file, true, maxTags, maxBytes);
}
