#include "core/search/search_node.h"

#include "core/meta/meta.h"
#include "core/meta/meta_tag.h"
#include "core/ui/ui_gateway.h"
#include "v4ada/error/error.h"
#include "v4ada/file/file.h"
#include "v4ada/string/cstring.h"

namespace {

void printRaw(const char* text) {
    if (UIGateway* ui = currentUI()) ui->printRaw("%s", text);
}

// The text with the letters A to Z lowered (a null text stays null).
OwnedString lowered(const char* text) {
    OwnedString out(text);
    out.toLower();
    return out;
}

bool writeText(i4_file* file, const OwnedString& text) {
    int length = text.length();
    if (length > kStringMaxEncoded) return false;
    if (file->write_16(static_cast<uint16_t>(length)) != 2) return false;
    return length == 0 || file->write(text.c_str(), length) == length;
}

// The value of a string tag contains the (lower-case) needle, letters
// A to Z of the value compared as a to z.
bool textContains(const MetaTag* tag, const OwnedString& needle) {
    const char* value = static_cast<const MetaTagString*>(tag)->text();
    if (!value) return false;
    return i4_strstr_lower(value, needle.c_str() ? needle.c_str() : "") != nullptr;
}

}  // namespace

// ---- SearchNode ----

SearchNode* SearchNode::extractKeyword(OwnedString&) { return this; }

bool SearchNode::toNetwork(i4_file* file) {
    try {
        if (file->write_8(kind_) != 1) return false;
        return writeFields(file);
    } catch (const i4_err&) {
        return false;
    }
}

SearchNode* SearchNode::makeFromNetwork(i4_file* file) { return readNode(file, 1); }

SearchNode* SearchNode::readNode(i4_file* file, int depth) {
    if (depth > kSearchMaxDepth) return nullptr;
    SearchNode* node = nullptr;
    try {
        switch (file->read_8()) {
            case kSearchCompound: node = new SN_Compound(); break;
            case kSearchFindStr: node = new SN_FindStr(); break;
            case kSearchStrTag: node = new SN_StrTagCompare(); break;
            case kSearchIntTag: node = new SN_IntTagCompare(); break;
            case kSearchMatchAll: node = new SN_MatchAll(); break;
            default: return nullptr;
        }
        if (node->readFields(file, depth)) return node;
    } catch (const i4_err&) {
    }
    delete node;
    return nullptr;
}

// ---- SN_Compound ----

SN_Compound::~SN_Compound() {
    delete left_;
    delete right_;
}

SearchNode* SN_Compound::clone() const {
    return new SN_Compound(op_, left_ ? left_->clone() : nullptr, right_ ? right_->clone() : nullptr);
}

bool SN_Compound::match(Meta* record) {
    auto holds = [record](SearchNode* node) { return node != nullptr && node->match(record); };
    switch (op_) {
        case kSearchAnd: return holds(left_) && holds(right_);
        case kSearchOr: return holds(left_) || holds(right_);
        case kSearchAndNot: return holds(left_) && !holds(right_);
        case kSearchXor: return holds(left_) != holds(right_);
        case kSearchNotAnd: return !holds(left_) && holds(right_);
        default:
            printRaw("Unknown Operation in Search");
            return false;
    }
}

SearchNode* SN_Compound::extractKeyword(OwnedString& keyword) {
    if (op_ != kSearchAnd || !keyword.isEmpty()) return this;
    if (left_) {
        left_ = left_->extractKeyword(keyword);
        if (!left_) {
            SearchNode* rest = right_;
            right_ = nullptr;
            delete this;
            return rest;
        }
        if (!keyword.isEmpty()) return this;
    }
    if (right_) {
        right_ = right_->extractKeyword(keyword);
        if (!right_) {
            SearchNode* rest = left_;
            left_ = nullptr;
            delete this;
            return rest;
        }
    }
    return this;
}

int SN_Compound::wireSize() const {
    return 2 + (left_ ? left_->wireSize() : 0) + (right_ ? right_->wireSize() : 0);
}

bool SN_Compound::writeFields(i4_file* file) const {
    if (!left_ || !right_) return false;
    if (file->write_8(op_) != 1) return false;
    return left_->toNetwork(file) && right_->toNetwork(file);
}

bool SN_Compound::readFields(i4_file* file, int depth) {
    delete left_;
    delete right_;
    left_ = right_ = nullptr;
    op_ = file->read_8();
    left_ = readNode(file, depth + 1);
    if (!left_) return false;
    right_ = readNode(file, depth + 1);
    return right_ != nullptr;
}

// ---- SN_FindStr ----

SN_FindStr::SN_FindStr(const char* text) : SearchNode(kSearchFindStr), text_(lowered(text)) {}

SearchNode* SN_FindStr::clone() const { return new SN_FindStr(text_.c_str()); }

bool SN_FindStr::match(Meta* record) {
    // One walk over the tags: a record from a peer may carry very many.
    return record->anyTag([this](MetaTag* tag) { return tag->type() == kTagString && textContains(tag, text_); });
}

SearchNode* SN_FindStr::extractKeyword(OwnedString& keyword) {
    if (!keyword.isEmpty()) return this;
    // Words separated by runs of spaces, each cut to kSearchWordMax bytes.
    const char* p = text_.c_str() ? text_.c_str() : "";
    SearchNode* rest = nullptr;
    bool first = true;
    while (*p) {
        while (*p == ' ') p++;
        if (!*p) break;
        const char* start = p;
        while (*p && *p != ' ') p++;
        int length = static_cast<int>(p - start);
        OwnedString word(start, length < kSearchWordMax ? length : kSearchWordMax);
        if (first) {
            keyword = word;
            first = false;
        } else if (!rest) {
            rest = new SN_FindStr(word.c_str());
        } else {
            rest = new SN_Compound(kSearchAnd, new SN_FindStr(word.c_str()), rest);
        }
    }
    if (first) return this;  // no word: nothing to take
    delete this;
    return rest;
}

bool SN_FindStr::writeFields(i4_file* file) const { return writeText(file, text_); }

bool SN_FindStr::readFields(i4_file* file, int) {
    text_ = OwnedString(kSearchTextReadMax, file);
    text_.toLower();
    return true;
}

// ---- SN_StrTagCompare ----

SN_StrTagCompare::SN_StrTagCompare(const char* tagName, const char* text)
    : SearchNode(kSearchStrTag), text_(lowered(text)), tagName_(tagName) {}

SearchNode* SN_StrTagCompare::clone() const {
    return new SN_StrTagCompare(tagName_.c_str(), text_.c_str());
}

bool SN_StrTagCompare::match(Meta* record) {
    return record->anyTag([this](MetaTag* tag) {
        return tag->type() == kTagString && tag->hasName(tagName_.c_str()) && textContains(tag, text_);
    });
}

bool SN_StrTagCompare::writeFields(i4_file* file) const {
    return writeText(file, text_) && writeText(file, tagName_);
}

bool SN_StrTagCompare::readFields(i4_file* file, int) {
    text_ = OwnedString(kSearchTextReadMax, file);
    text_.toLower();
    tagName_ = OwnedString(file);
    return true;
}

// ---- SN_IntTagCompare ----

SN_IntTagCompare::SN_IntTagCompare(const char* tagName, int32_t value, uint8_t op)
    : SearchNode(kSearchIntTag), value_(value), op_(op), tagName_(tagName) {}

SearchNode* SN_IntTagCompare::clone() const {
    return new SN_IntTagCompare(tagName_.c_str(), value_, op_);
}

bool SN_IntTagCompare::match(Meta* record) {
    return record->anyTag([this](MetaTag* tag) {
        if (tag->type() != kTagInt || !tag->hasName(tagName_.c_str())) return false;
        int32_t v = static_cast<const MetaTagInt*>(tag)->intValue();
        bool holds = false;
        switch (op_) {
            case kIntEqual: holds = v == value_; break;
            case kIntGreater: holds = v > value_; break;
            case kIntLess: holds = v < value_; break;
            case kIntGreaterEqual: holds = v >= value_; break;
            case kIntLessEqual: holds = v <= value_; break;
            case kIntNotEqual: holds = v != value_; break;
            default: printRaw("Unknown Operation in SN_IntTagCompare"); break;
        }
        return holds;
    });
}

bool SN_IntTagCompare::writeFields(i4_file* file) const {
    return file->write_32(static_cast<uint32_t>(value_)) == 4 && file->write_8(op_) == 1 &&
           writeText(file, tagName_);
}

bool SN_IntTagCompare::readFields(i4_file* file, int) {
    value_ = static_cast<int32_t>(file->read_32());
    op_ = file->read_8();
    tagName_ = OwnedString(file);
    return true;
}
