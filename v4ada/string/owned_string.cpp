#include "v4ada/string/owned_string.h"

#include <cstring>

#include "v4ada/error/error.h"
#include "v4ada/file/file.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/memory/memory.h"
#include "v4ada/string/cstring.h"

namespace {
constexpr i4_pos kFormatGrowStep = 512;
constexpr int kSkipChunk = 256;
}  // namespace

OwnedString::OwnedString() : text_(i4_strdup("")) {}

OwnedString::OwnedString(const char* text) : text_(i4_strdup(text)) {}

OwnedString::OwnedString(const char* text, int n) : text_(nullptr) {
    if (n < 0) n = 0;
    text_ = static_cast<char*>(i4_malloc(static_cast<size_t>(n) + 1));
    int i = 0;
    if (text)
        for (; i < n && text[i]; i++) text_[i] = text[i];
    text_[i] = 0;
}

OwnedString::OwnedString(const OwnedString& other) : text_(i4_strdup(other.text_)) {}

OwnedString::OwnedString(OwnedString&& other) noexcept : text_(other.text_) { other.text_ = nullptr; }

OwnedString::OwnedString(i4_file* file) : text_(nullptr) { readEncoded(kStringMaxEncoded, file); }

OwnedString::OwnedString(unsigned maximum, i4_file* file) : text_(nullptr) { readEncoded(maximum, file); }

OwnedString::OwnedString(i4_file* file, int n) : text_(nullptr) {
    if (n < 0) error_at(i4_module::kString, __LINE__)("read string error");
    text_ = static_cast<char*>(i4_malloc(static_cast<size_t>(n) + 1));
    int got = n ? file->read(text_, n) : 0;
    if (got != n) {
        i4_free(text_);
        text_ = nullptr;
        error_at(i4_module::kString, __LINE__)("read string error");
    }
    text_[n] = 0;
}

OwnedString::~OwnedString() {
    i4_free(text_);
    text_ = nullptr;
}

void OwnedString::readEncoded(unsigned maximum, i4_file* file) {
    uint16_t length = file->read_16();
    if (length == kStringRefusedLength) error_at(i4_module::kString, __LINE__)("read string error");
    unsigned keep = length < maximum ? length : maximum;
    char* text = static_cast<char*>(i4_malloc(keep + 1));
    try {
        file->readAll(text, static_cast<int>(keep));
        // Skip the surplus so the stream ends after the whole encoded text.
        char scratch[kSkipChunk];
        for (unsigned left = length - keep; left > 0;) {
            int step = left < sizeof scratch ? static_cast<int>(left) : kSkipChunk;
            file->readAll(scratch, step);
            left -= static_cast<unsigned>(step);
        }
    } catch (...) {
        i4_free(text);
        throw;
    }
    text[keep] = 0;
    text_ = text;
}

OwnedString& OwnedString::operator=(const OwnedString& other) {
    assign(other);
    return *this;
}

OwnedString& OwnedString::operator=(OwnedString&& other) noexcept {
    if (this != &other) {
        i4_free(text_);
        text_ = other.text_;
        other.text_ = nullptr;
    }
    return *this;
}

OwnedString& OwnedString::operator=(const char* text) {
    assign(text);
    return *this;
}

int OwnedString::length() const { return i4_strlen(text_); }

void OwnedString::assign(const char* text) {
    if (text == text_) return;
    char* copy = i4_strdup(text);  // copy first: text may point into ours
    i4_free(text_);
    text_ = copy;
}

void OwnedString::assign(const OwnedString& other) { assign(other.text_); }

bool OwnedString::equals(const char* text) const { return i4_strcmp(text_, text) == 0; }

bool OwnedString::equals(const OwnedString& other) const { return i4_strcmp(text_, other.text_) == 0; }

void OwnedString::append(const char* text) {
    if (!text) return;
    append(text, i4_strlen(text));
}

void OwnedString::append(const char* text, int n) {
    if (!text || n < 0) return;
    size_t old = static_cast<size_t>(length());
    char* joined = static_cast<char*>(i4_malloc(old + static_cast<size_t>(n) + 1));
    if (old) memcpy(joined, text_, old);
    memcpy(joined + old, text, static_cast<size_t>(n));
    joined[old + static_cast<size_t>(n)] = 0;
    i4_free(text_);
    text_ = joined;
}

void OwnedString::toLower() { i4_strlwr(text_); }

void OwnedString::truncate(int position) {
    if (!text_ || position < 0 || position >= length()) return;
    text_[position] = 0;
    text_ = static_cast<char*>(i4_realloc(text_, static_cast<size_t>(position) + 1));
}

int OwnedString::replaceChar(char from, char to) {
    if (!text_ || from == 0) return 0;
    int count = 0;
    for (char* p = text_; *p; p++)
        if (*p == from) {
            *p = to;
            count++;
        }
    return count;
}

int OwnedString::replaceAll(const char* needle, const char* replacement) {
    if (!text_ || !needle || !*needle) return 0;
    if (!replacement) replacement = "";
    size_t needleLength = strlen(needle);
    size_t replacementLength = strlen(replacement);
    int count = 0;
    for (const char* p = i4_strstr(text_, needle); p; p = i4_strstr(p + needleLength, needle)) count++;
    if (count == 0) return 0;
    size_t total = strlen(text_) - count * needleLength + count * replacementLength;
    char* result = static_cast<char*>(i4_malloc(total + 1));
    char* out = result;
    const char* from = text_;
    for (const char* p = i4_strstr(from, needle); p; p = i4_strstr(from, needle)) {
        memcpy(out, from, static_cast<size_t>(p - from));
        out += p - from;
        memcpy(out, replacement, replacementLength);
        out += replacementLength;
        from = p + needleLength;
    }
    strcpy(out, from);
    i4_free(text_);
    text_ = result;
    return count;
}

void OwnedString::format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vformat(format, args);
    va_end(args);
}

void OwnedString::vformat(const char* format, va_list args) {
    i4_ram_file_class out(nullptr, 0, kFormatGrowStep);
    try {
        out.vprintf(format, args);
        out.write_8(0);
    } catch (...) {
        i4_free(out.data());
        throw;
    }
    i4_free(text_);
    text_ = reinterpret_cast<char*>(out.data());
}

void OwnedString::write(i4_file* file) const { i4_write_string(text_, file); }

void i4_write_string(const char* text, i4_file* file) {
    int length = i4_strlen(text);
    if (length > kStringMaxEncoded) error_at(i4_module::kString, __LINE__)("write string error");
    if (file->write_16(static_cast<uint16_t>(length)) != 2)
        error_at(i4_module::kString, __LINE__)("write string error");
    if (length && file->write(text, length) != length)
        error_at(i4_module::kString, __LINE__)("write string error");
}
