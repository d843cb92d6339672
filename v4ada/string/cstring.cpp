#include "v4ada/string/cstring.h"

#include <climits>
#include <cstring>

#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/memory/memory.h"

int i4_strlen(const char* text) { return text ? static_cast<int>(strlen(text)) : 0; }

char* i4_strdup(const char* text) {
    if (!text) return nullptr;
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(i4_malloc(n));
    memcpy(copy, text, n);
    return copy;
}

namespace {

int compareText(const char* a, const char* b, bool foldCase) {
    if (a == b) return 0;
    if (!a) return -1;
    if (!b) return 1;
    for (;; a++, b++) {
        signed char ca = static_cast<signed char>(foldCase ? char_upper(*a) : *a);
        signed char cb = static_cast<signed char>(foldCase ? char_upper(*b) : *b);
        if (ca == 0 && cb == 0) return 0;
        if (ca == 0) return -1;  // the text that ends first sorts first
        if (cb == 0) return 1;
        if (ca != cb) return ca < cb ? -1 : 1;
    }
}

enum class Fold { None, Both, TextToLower };

const char* findText(const char* text, const char* needle, Fold fold) {
    if (!text || !needle) return nullptr;
    for (const char* start = text;; start++) {
        const char* t = start;
        const char* n = needle;
        for (; *n; t++, n++) {
            char ct = *t, cn = *n;
            if (fold == Fold::Both) {
                ct = char_upper(ct);
                cn = char_upper(cn);
            } else if (fold == Fold::TextToLower) {
                ct = char_lower(ct);
            }
            if (ct == 0 || ct != cn) break;
        }
        if (*n == 0) return start;
        if (*start == 0) return nullptr;
    }
}

}  // namespace

int i4_strcmp(const char* a, const char* b) { return compareText(a, b, false); }

int i4_stricmp(const char* a, const char* b) { return compareText(a, b, true); }

char* i4_strcpy(char* dest, const char* src) { return strcpy(dest, src ? src : ""); }

char* i4_strcat(char* dest, const char* src) { return strcat(dest, src ? src : ""); }

char* i4_strncpy(char* dest, const char* src, int n) {
    if (!dest || n <= 0) return dest;
    int i = 0;
    if (src)
        for (; i < n - 1 && src[i]; i++) dest[i] = src[i];
    dest[i] = 0;
    return dest;
}

const char* i4_strstr(const char* text, const char* needle) { return findText(text, needle, Fold::None); }

const char* stristr(const char* text, const char* needle) { return findText(text, needle, Fold::Both); }

const char* i4_strstr_lower(const char* text, const char* needle) {
    return findText(text, needle, Fold::TextToLower);
}

char* i4_strlwr(char* text) {
    if (text)
        for (char* p = text; *p; p++) *p = char_lower(*p);
    return text;
}

int i4_atoi(const char* text) {
    if (!text) return 0;
    bool negative = false;
    if (*text == '-') {
        negative = true;
        text++;
    }
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

char i4_next_line(char* dest, const char* text, int* index) {
    int i = *index;
    while (text[i] == '\r' || text[i] == '\n') i++;
    int out = 0;
    while (text[i] && text[i] != '\r' && text[i] != '\n') dest[out++] = text[i++];
    dest[out] = 0;
    *index = i;
    return text[i];
}

namespace {
bool isDelimiter(char c, const char* delimiters) { return c != 0 && strchr(delimiters, c) != nullptr; }
}  // namespace

// Returns 0 when no token is left (the output is untouched), -1 when the
// token ran to the end of the text, otherwise the index to continue from.
int i4_strtok(const char* text, const char* delimiters, int start, char* dest, int size) {
    if (start < 0 || !text || !dest || size <= 0) return 0;
    if (!delimiters) delimiters = "";
    if (start > i4_strlen(text)) return 0;
    int i = start;
    while (isDelimiter(text[i], delimiters)) {
        if (text[i + 1] == 0) return 0;
        i++;
    }
    int out = 0;
    for (;;) {
        if (text[i] == 0) {
            dest[out] = 0;
            return -1;
        }
        if (out == size - 1) {
            dest[out] = 0;
            return i;
        }
        dest[out++] = text[i++];
        if (isDelimiter(text[i], delimiters)) {
            dest[out] = 0;
            return i;
        }
    }
}

int i4_vsnprintf(char* dest, int size, const char* format, va_list args) {
    if (!dest || size <= 0) return 0;
    i4_ram_file_class out(dest, static_cast<i4_pos>(size - 1), 0);
    out.seek(0);
    int written = out.vprintf(format, args);
    dest[out.tell()] = 0;
    return written;
}

int i4_snprintf(char* dest, int size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = i4_vsnprintf(dest, size, format, args);
    va_end(args);
    return written;
}

int i4_sprintf(char* dest, const char* format, ...) {
    va_list args;
    va_start(args, format);
    i4_ram_file_class out(dest, INT_MAX, 0);
    int written = out.vprintf(format, args);
    dest[out.tell()] = 0;
    va_end(args);
    return written;
}
