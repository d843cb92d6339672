#include "v4ada/xml/xml_parser.h"

#include <climits>
#include <cstdarg>
#include <cstring>
#include <string>

#include "v4ada/string/cstring.h"

namespace {

bool is_white(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; }

void replace_all(std::string& text, const char* needle, char replacement) {
    size_t n = std::strlen(needle);
    size_t at = 0;
    while ((at = text.find(needle, at, n)) != std::string::npos) {
        text.replace(at, n, 1, replacement);
        at += 1;
    }
}

// The named entities in a fixed order, each over the whole value (so that
// "&amp;lt;" ends as '<'), then "&#<digits>;" as one byte (low eight bits).
std::string decode_value(const char* start, size_t length) {
    std::string text(start, length);
    replace_all(text, "&amp;", '&');
    replace_all(text, "&lt;", '<');
    replace_all(text, "&gt;", '>');
    replace_all(text, "&apos;", '\'');
    replace_all(text, "&quot;", '"');
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '&' && i + 1 < text.size() && text[i + 1] == '#') {
            size_t j = i + 2;
            unsigned value = 0;
            while (j < text.size() && text[j] >= '0' && text[j] <= '9') {
                value = (value * 10 + static_cast<unsigned>(text[j] - '0')) & 0xFFu;
                j++;
            }
            if (j > i + 2 && j < text.size() && text[j] == ';') {
                out += static_cast<char>(value);
                i = j + 1;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

}  // namespace

XMLAttr::XMLAttr(const OwnedString& name, const OwnedString& value, XMLNode* owner)
    : name(name), value(value), owner(owner) {}

XMLAttr::~XMLAttr() = default;

XMLNode::XMLNode(XMLNode* parent) : parent(parent) {}

XMLNode::~XMLNode() {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&children, &cursor)) delete static_cast<XMLNode*>(element);
    cursor = nullptr;
    while (void* element = LL::walk(&attributes, &cursor)) delete static_cast<XMLAttr*>(element);
}

XMLNode* XMLNode::child(const char* wanted) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&children, &cursor)) {
        auto* node = static_cast<XMLNode*>(element);
        if (i4_stricmp(node->name.c_str(), wanted) == 0) return node;
    }
    return nullptr;
}

XMLAttr* XMLNode::attribute(const char* wanted) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&attributes, &cursor)) {
        auto* attr = static_cast<XMLAttr*>(element);
        if (i4_stricmp(attr->name.c_str(), wanted) == 0) return attr;
    }
    return nullptr;
}

XMLParser::XMLParser()
    : current_(nullptr), depth_(0), text_(nullptr), length_(0), position_(0), error_(nullptr) {}

XMLParser::~XMLParser() { discard(); }

void XMLParser::discard() {
    // Only top-level nodes are deleted here; each takes its subtree along.
    // They are gathered first, since deleting one frees later list entries.
    LL tops;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&nodes_, &cursor)) {
        if (static_cast<XMLNode*>(element)->parent == nullptr) tops.append(element);
    }
    nodes_.clear();
    cursor = nullptr;
    while (void* element = LL::walk(&tops, &cursor)) delete static_cast<XMLNode*>(element);
    current_ = nullptr;
    depth_ = 0;
}

XMLNode* XMLParser::parse(const char* text) {
    discard();
    error_ = nullptr;
    if (text == nullptr) return nullptr;
    text_ = text;
    length_ = std::strlen(text);
    position_ = 0;
    // Runs of text are stored with an int length.
    if (length_ > static_cast<size_t>(INT_MAX)) {
        text_ = nullptr;
        error_ = "text too long";
        return nullptr;
    }
    while (parseNext()) {
    }
    text_ = nullptr;
    if (error_ != nullptr) {
        discard();
        return nullptr;
    }
    return static_cast<XMLNode*>(nodes_.first());
}

bool XMLParser::fail(const char* message) {
    error_ = message;
    return false;
}

bool XMLParser::parseNext() {
    if (position_ >= length_) return false;
    while (position_ < length_ && is_white(text_[position_])) position_++;
    if (position_ >= length_) return false;
    size_t start = position_;

    if (text_[start] == '<') return parseMarkup(start + 1);

    // A text run up to the next tag; trailing white space stays. Entities
    // in text are not decoded.
    const void* lt = std::memchr(text_ + start, '<', length_ - start);
    size_t end = lt != nullptr ? static_cast<size_t>(static_cast<const char*>(lt) - text_) : length_;
    if (current_ != nullptr) current_->text = OwnedString(text_ + start, static_cast<int>(end - start));
    position_ = end;
    return position_ < length_;
}

bool XMLParser::parseMarkup(size_t after) {
    const char* rest = text_ + after;
    size_t left = length_ - after;

    if (left >= 1 && rest[0] == '!') {
        if (left >= 3 && std::memcmp(rest, "!--", 3) == 0) {
            const char* close = left > 3 ? static_cast<const char*>(memmem(rest + 3, left - 3, "-->", 3))
                                         : nullptr;
            position_ = close != nullptr ? static_cast<size_t>(close - text_) + 3 : length_;
            return true;
        }
        if (left >= 8 && std::memcmp(rest, "!DOCTYPE", 8) == 0) {
            // Skipped whole: quoted literals and an internal subset in
            // brackets may hold '>' of their own.
            size_t i = after + 8;
            int brackets = 0;
            char quote = 0;
            for (; i < length_; i++) {
                char c = text_[i];
                if (quote != 0) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '[') {
                    brackets++;
                } else if (c == ']') {
                    if (brackets > 0) brackets--;
                } else if (c == '>' && brackets == 0) {
                    break;
                }
            }
            position_ = i < length_ ? i + 1 : length_;
            return true;
        }
        // A CDATA section or another declaration ends the parse; what was
        // built so far stays.
        return false;
    }
    if (left >= 1 && rest[0] == '?') {
        // The XML declaration or a processing instruction: skipped.
        const char* close = left > 1 ? static_cast<const char*>(memmem(rest + 1, left - 1, "?>", 2))
                                     : nullptr;
        position_ = close != nullptr ? static_cast<size_t>(close - text_) + 2 : length_;
        return true;
    }

    const void* gt = std::memchr(rest, '>', left);
    size_t close = gt != nullptr ? static_cast<size_t>(static_cast<const char*>(gt) - text_) : length_;
    bool closing = left >= 1 && rest[0] == '/';
    bool selfClosing = gt != nullptr && close > after && text_[close - 1] == '/';
    size_t contentEnd = selfClosing ? close - 1 : close;

    if (!closing) {
        if (depth_ >= kXmlMaxDepth) return fail("elements nested too deeply");
        auto* node = new XMLNode(current_);
        if (current_ != nullptr) current_->children.append(node);
        nodes_.append(node);
        current_ = node;
        depth_++;
        if (!parseTag(after, contentEnd)) return false;
    }

    position_ = gt != nullptr ? close + 1 : length_;
    if (selfClosing || closing) {
        if (current_ != nullptr) {
            current_ = current_->parent;
            depth_--;
        }
        return true;
    }
    return position_ < length_;
}

bool XMLParser::parseTag(size_t start, size_t end) {
    size_t p = start;
    while (p < end && text_[p] != ' ') p++;
    current_->name = OwnedString(text_ + start, static_cast<int>(p - start));
    while (p < end && text_[p] == ' ') p++;
    return parseAttributes(p, end);
}

bool XMLParser::parseAttributes(size_t p, size_t end) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&current_->attributes, &cursor)) {
        delete static_cast<XMLAttr*>(element);
    }
    current_->attributes.clear();

    while (p < end) {
        size_t nameStart = p;
        while (p < end && text_[p] != ' ' && text_[p] != '=') p++;
        size_t nameEnd = p;
        if (p < end && text_[p] == '=') {
            p++;
        } else if (p < end && is_white(text_[p])) {
            while (p < end && is_white(text_[p])) p++;
            if (p < end && text_[p] == '=') p++;
        } else {
            return fail("attribute without a value");
        }
        // The value must be the next thing after the '=': anything else,
        // single quotes included, is refused.
        while (p < end && is_white(text_[p])) p++;
        if (p >= end || text_[p] != '"') return fail("attribute value not in double quotes");
        size_t valueStart = ++p;
        while (p < end && text_[p] != '"') p++;
        if (p >= end) return fail("attribute value without its closing quote");

        std::string value = decode_value(text_ + valueStart, p - valueStart);
        auto* attr = new XMLAttr(OwnedString(text_ + nameStart, static_cast<int>(nameEnd - nameStart)),
                                 OwnedString(value.c_str()), current_);
        current_->attributes.append(attr);
        p++;
        while (p < end && text_[p] == ' ') p++;
    }
    return true;
}

XMLNode* xml_child_path(XMLNode* node, int count, ...) {
    va_list names;
    va_start(names, count);
    for (int i = 0; i < count && node != nullptr; i++) {
        const char* name = va_arg(names, const char*);
        if (name != nullptr) node = node->child(name);
    }
    va_end(names);
    return node;
}

bool xml_attribute_value(XMLNode* node, const char* name, OwnedString& out) {
    XMLAttr* attr = node != nullptr ? node->attribute(name) : nullptr;
    if (attr == nullptr) {
        out = "";
        return false;
    }
    out = attr->value;
    return true;
}
