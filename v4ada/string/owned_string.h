// OwnedString: the program's text value, owning one heap C string or null.
// Null is distinct from "": the default constructor gives "", construction
// from a null pointer gives null.
//
// Encoded form on files and wire: u16 LE length, then the bytes, no
// terminator; the length 0xFFFF is refused, so at most 65534 bytes.
#pragma once

#include <cstdarg>
#include <cstdint>

class i4_file;

constexpr uint16_t kStringRefusedLength = 0xFFFF;  // never a valid encoded length
constexpr int kStringMaxEncoded = 0xFFFE;

class OwnedString {
public:
    OwnedString();
    OwnedString(const char* text);  // NOLINT: implicit by design, like a C string
    OwnedString(const char* text, int n);
    OwnedString(const OwnedString& other);
    OwnedString(OwnedString&& other) noexcept;
    // Reads the encoded form.
    explicit OwnedString(i4_file* file);
    // Reads the encoded form keeping at most `maximum` bytes; the stream
    // always advances past the whole encoded string.
    OwnedString(unsigned maximum, i4_file* file);
    // Reads exactly n bytes without a length prefix.
    OwnedString(i4_file* file, int n);
    ~OwnedString();

    OwnedString& operator=(const OwnedString& other);
    OwnedString& operator=(OwnedString&& other) noexcept;
    OwnedString& operator=(const char* text);

    const char* c_str() const { return text_; }
    char* at(int index) const { return text_ + index; }
    int length() const;
    bool isEmpty() const { return text_ == nullptr || text_[0] == 0; }
    bool isNull() const { return text_ == nullptr; }

    void assign(const char* text);
    void assign(const OwnedString& other);
    bool equals(const char* text) const;
    bool equals(const OwnedString& other) const;
    bool notEquals(const char* text) const { return !equals(text); }
    bool notEquals(const OwnedString& other) const { return !equals(other); }

    void append(const char* text);
    void append(const char* text, int n);
    void toLower();
    void truncate(int position);
    int replaceChar(char from, char to);
    int replaceAll(const char* needle, const char* replacement);

    // Replaces the text with the printf engine's output (no length limit).
    void format(const char* format, ...);
    void vformat(const char* format, va_list args);

    // Writes the encoded form; reports "write string error" when the text
    // cannot be written whole (including texts longer than 65534 bytes).
    void write(i4_file* file) const;

private:
    void readEncoded(unsigned maximum, i4_file* file);
    char* text_;
};

// Writes the encoded form of a C string (null and "" give length 0).
void i4_write_string(const char* text, i4_file* file);
