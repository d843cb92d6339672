// Reader of INI-style settings files: "[section]" lines, "key=value" lines
// and ';' comments. Sections and keys are looked up ignoring ASCII case;
// numbered sections and keys ("name[3]") have indexed lookups.
#pragma once

#include <cstddef>

#include "v4ada/string/owned_string.h"

// Longest line taken at once; a longer line is read in pieces of this size,
// each handled as a line of its own. Names, keys and values are therefore
// never longer either.
constexpr int kIniMaxLine = 1023;

struct IniEntry {
    IniEntry* prev = nullptr;
    IniEntry* next = nullptr;
    OwnedString key;
    OwnedString value;
};

class IniSection {
public:
    IniSection();
    explicit IniSection(const char* name, int length);
    IniSection(const IniSection&) = delete;
    IniSection& operator=(const IniSection&) = delete;
    virtual ~IniSection();

    const OwnedString& name() const { return name_; }
    // The first entry whose key equals key ignoring case, starting with the
    // empty head entry (so an empty key finds the head); null when none.
    const IniEntry* find(const char* key) const;
    // Appends an entry after the last one, keeping file order.
    void add(const char* key, int keyLength, const char* value, int valueLength);

    IniSection* next = nullptr;
    IniSection* prev = nullptr;

private:
    IniEntry head_;  // empty key and value; head_.prev is the last entry
    OwnedString name_;
};

// The reader is itself the root section, holding the entries that come
// before the first section line.
class IniFile : public IniSection {
public:
    IniFile();
    ~IniFile() override;

    // Reads a file in text mode; false when it cannot be opened.
    bool load(const char* path);
    // Reads the same text from memory (used where the text is not a file).
    bool loadBuffer(const char* data, size_t length);

    bool getString(const char* section, const char* key, OwnedString& out) const;
    bool getString(const char* section, int sectionIndex, const char* key, OwnedString& out) const;
    bool getString(const char* section, const char* key, int keyIndex, OwnedString& out) const;
    bool getString(const char* section, int sectionIndex, const char* key, int keyIndex,
                   OwnedString& out) const;

    // The value through atoi; false (out untouched) when the entry is missing.
    bool getInt(const char* section, const char* key, int& out) const;
    bool getInt(const char* section, int sectionIndex, const char* key, int& out) const;
    bool getInt(const char* section, const char* key, int keyIndex, int& out) const;
    bool getInt(const char* section, int sectionIndex, const char* key, int keyIndex,
                int& out) const;

    // out is true when the value equals "true" ignoring case, false for any
    // other value; the result tells whether the entry exists.
    bool getBool(const char* section, const char* key, bool& out) const;
    bool getBool(const char* section, int sectionIndex, const char* key, bool& out) const;
    bool getBool(const char* section, const char* key, int keyIndex, bool& out) const;
    bool getBool(const char* section, int sectionIndex, const char* key, int keyIndex,
                 bool& out) const;

private:
    void takeLine(char* line);
    const IniEntry* lookup(const char* section, const char* key) const;

    IniSection* current_;
};
