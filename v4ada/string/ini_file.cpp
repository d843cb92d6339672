#include "v4ada/string/ini_file.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "v4ada/file/fs.h"
#include "v4ada/string/cstring.h"

namespace {

// Settings files are small; a larger one is not a settings file.
constexpr i4_pos kIniMaxFile = 4u << 20;

// "%s[%d]": the name of a numbered section or key.
std::string indexed_name(const char* name, int index) {
    std::string text = name != nullptr ? name : "";
    text += '[';
    text += std::to_string(index);
    text += ']';
    return text;
}

}  // namespace

IniSection::IniSection() {
    head_.prev = &head_;
    head_.next = &head_;
}

IniSection::IniSection(const char* name, int length) : IniSection() {
    name_ = OwnedString(name, length);
}

IniSection::~IniSection() {
    IniEntry* entry = head_.next;
    while (entry != &head_) {
        IniEntry* following = entry->next;
        delete entry;
        entry = following;
    }
    head_.next = head_.prev = &head_;
}

const IniEntry* IniSection::find(const char* key) const {
    const IniEntry* entry = &head_;
    do {
        if (i4_stricmp(entry->key.c_str(), key) == 0) return entry;
        entry = entry->next;
    } while (entry != &head_);
    return nullptr;
}

void IniSection::add(const char* key, int keyLength, const char* value, int valueLength) {
    auto* entry = new IniEntry;
    entry->key = OwnedString(key, keyLength);
    entry->value = OwnedString(value, valueLength);
    IniEntry* last = head_.prev;
    entry->prev = last;
    entry->next = &head_;
    last->next = entry;
    head_.prev = entry;
}

IniFile::IniFile() : current_(this) {}

IniFile::~IniFile() {
    IniSection* section = next;
    while (section != nullptr) {
        IniSection* following = section->next;
        delete section;
        section = following;
    }
    next = nullptr;
}

bool IniFile::load(const char* path) {
    if (path == nullptr) return false;
    std::unique_ptr<i4_file> file(fs_open(path, kFsRead));
    if (!file) return false;
    i4_pos size = file->size();
    if (size > kIniMaxFile) return false;
    std::string data(static_cast<size_t>(size), '\0');
    int got = size ? file->read(data.data(), static_cast<int>(size)) : 0;
    if (got < 0) return false;
    return loadBuffer(data.data(), static_cast<size_t>(got));
}

bool IniFile::loadBuffer(const char* data, size_t length) {
    if (data == nullptr) return length == 0;
    char line[kIniMaxLine + 1];
    size_t position = 0;
    while (position < length) {
        // Like a line read from a file: up to and including the next line
        // feed, at most kIniMaxLine bytes.
        size_t n = 0;
        while (n < static_cast<size_t>(kIniMaxLine) && position < length) {
            char c = data[position++];
            line[n++] = c;
            if (c == '\n') break;
        }
        line[n] = 0;
        takeLine(line);
    }
    return true;
}

void IniFile::takeLine(char* line) {
    line[std::strcspn(line, "\n")] = 0;
    line[std::strcspn(line, "\r")] = 0;
    if (line[0] == '[') {
        char* close = std::strrchr(line, ']');
        if (close == nullptr) return;
        auto* section = new IniSection(line + 1, static_cast<int>(close - line - 1));
        section->prev = current_;
        section->next = current_->next;
        if (current_->next != nullptr) current_->next->prev = section;
        current_->next = section;
        current_ = section;
        return;
    }
    if (line[0] == ';') return;
    char* equals = std::strchr(line, '=');
    if (equals == nullptr) return;
    current_->add(line, static_cast<int>(equals - line), equals + 1,
                  static_cast<int>(std::strlen(equals + 1)));
}

const IniEntry* IniFile::lookup(const char* section, const char* key) const {
    for (const IniSection* s = this; s != nullptr; s = s->next) {
        if (i4_stricmp(s->name().c_str(), section) == 0) return s->find(key);
    }
    return nullptr;
}

bool IniFile::getString(const char* section, const char* key, OwnedString& out) const {
    const IniEntry* entry = lookup(section, key);
    if (entry == nullptr) return false;
    out = entry->value;
    return true;
}

bool IniFile::getString(const char* section, int sectionIndex, const char* key,
                        OwnedString& out) const {
    return getString(indexed_name(section, sectionIndex).c_str(), key, out);
}

bool IniFile::getString(const char* section, const char* key, int keyIndex,
                        OwnedString& out) const {
    return getString(section, indexed_name(key, keyIndex).c_str(), out);
}

bool IniFile::getString(const char* section, int sectionIndex, const char* key, int keyIndex,
                        OwnedString& out) const {
    return getString(indexed_name(section, sectionIndex).c_str(),
                     indexed_name(key, keyIndex).c_str(), out);
}

bool IniFile::getInt(const char* section, const char* key, int& out) const {
    const IniEntry* entry = lookup(section, key);
    if (entry == nullptr) return false;
    // atoi's reading, clamped to the int range instead of overflowing.
    const char* value = entry->value.c_str();
    long number = value != nullptr ? std::strtol(value, nullptr, 10) : 0;
    if (number > INT_MAX) number = INT_MAX;
    if (number < INT_MIN) number = INT_MIN;
    out = static_cast<int>(number);
    return true;
}

bool IniFile::getInt(const char* section, int sectionIndex, const char* key, int& out) const {
    return getInt(indexed_name(section, sectionIndex).c_str(), key, out);
}

bool IniFile::getInt(const char* section, const char* key, int keyIndex, int& out) const {
    return getInt(section, indexed_name(key, keyIndex).c_str(), out);
}

bool IniFile::getInt(const char* section, int sectionIndex, const char* key, int keyIndex,
                     int& out) const {
    return getInt(indexed_name(section, sectionIndex).c_str(),
                  indexed_name(key, keyIndex).c_str(), out);
}

bool IniFile::getBool(const char* section, const char* key, bool& out) const {
    const IniEntry* entry = lookup(section, key);
    if (entry == nullptr) return false;
    out = i4_stricmp(entry->value.c_str(), "true") == 0;
    return true;
}

bool IniFile::getBool(const char* section, int sectionIndex, const char* key, bool& out) const {
    return getBool(indexed_name(section, sectionIndex).c_str(), key, out);
}

bool IniFile::getBool(const char* section, const char* key, int keyIndex, bool& out) const {
    return getBool(section, indexed_name(key, keyIndex).c_str(), out);
}

bool IniFile::getBool(const char* section, int sectionIndex, const char* key, int keyIndex,
                      bool& out) const {
    return getBool(indexed_name(section, sectionIndex).c_str(),
                   indexed_name(key, keyIndex).c_str(), out);
}
