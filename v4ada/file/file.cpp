#include "v4ada/file/file.h"

#include <cstdio>
#include <cstring>

#include "v4ada/error/error.h"
#include "v4ada/file/printable.h"
#include "v4ada/string/owned_string.h"

namespace {

constexpr int kFillChunk = 1024;
constexpr int kMaxConversionText = 19;  // '%' through the final letter
constexpr int kFloatBuffer = 128;

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Collects output and hands it to the file in blocks instead of one
// write per character.
class PrintSink {
public:
    explicit PrintSink(i4_file* file) : file_(file) {}
    ~PrintSink() { flush(); }
    void put(char c) {
        if (used_ == sizeof buffer_) flush();
        buffer_[used_++] = c;
    }
    void put(const char* text, size_t n) {
        for (size_t i = 0; i < n; i++) put(text[i]);
    }
    void flush() {
        if (used_) file_->write(buffer_, static_cast<int>(used_));
        used_ = 0;
    }

private:
    i4_file* file_;
    char buffer_[512];
    size_t used_ = 0;
};

void putUnsigned(PrintSink& out, uint64_t value, unsigned base) {
    static const char digits[] = "0123456789abcdef";
    char text[64];
    int at = sizeof text;
    do {
        text[--at] = digits[value % base];
        value /= base;
    } while (value);
    out.put(text + at, sizeof text - at);
}

void putSigned(PrintSink& out, int64_t value) {
    if (value < 0) {
        out.put('-');
        putUnsigned(out, 0 - static_cast<uint64_t>(value), 10);
    } else {
        putUnsigned(out, static_cast<uint64_t>(value), 10);
    }
}

}  // namespace

uint8_t i4_file::read_8() {
    uint8_t value;
    if (read(&value, 1) != 1) error_at(i4_module::kFile, __LINE__)("read_8 error");
    return value;
}

uint16_t i4_file::read_16() {
    uint8_t b[2];
    if (read(b, 2) != 2) error_at(i4_module::kFile, __LINE__)("read_16 error");
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t i4_file::read_32() {
    uint8_t b[4];
    if (read(b, 4) != 4) error_at(i4_module::kFile, __LINE__)("read_32 error");
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
           (static_cast<uint32_t>(b[3]) << 24);
}

uint64_t i4_file::read_64() {
    uint8_t b[8];
    readAll(b, 8);
    uint64_t value = 0;
    for (int i = 7; i >= 0; i--) value = (value << 8) | b[i];
    return value;
}

float i4_file::read_float() {
    uint32_t bits = read_32();
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

void i4_file::readAll(void* buffer, int n) {
    auto out = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        int got = read(out, n);
        if (got <= 0) error_at(i4_module::kFile, __LINE__)("readAll error");
        if (got > n) got = n;
        out += got;
        n -= got;
    }
}

int i4_file::write_8(uint8_t value) { return write(&value, 1); }

int i4_file::write_16(uint16_t value) {
    uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    return write(b, 2);
}

int i4_file::write_32(uint32_t value) {
    uint8_t b[4];
    for (int i = 0; i < 4; i++) b[i] = static_cast<uint8_t>(value >> (8 * i));
    return write(b, 4);
}

int i4_file::write_64(uint64_t value) {
    uint8_t b[8];
    for (int i = 0; i < 8; i++) b[i] = static_cast<uint8_t>(value >> (8 * i));
    return write(b, 8);
}

int i4_file::write_float(float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return write_32(bits);
}

bool i4_file::fill(uint8_t byte, i4_pos count) {
    uint8_t chunk[kFillChunk];
    memset(chunk, byte, sizeof chunk);
    while (count > 0) {
        int step = count < kFillChunk ? static_cast<int>(count) : kFillChunk;
        int written = write(chunk, step);
        if (written <= 0) return false;  // an error, or no progress
        count -= static_cast<i4_pos>(written);
    }
    return true;
}

void* i4_file::bufferAt(i4_pos) { return nullptr; }

int i4_file::printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = vprintf(format, args);
    va_end(args);
    return written;
}

int i4_file::vprintf(const char* format, va_list args) {
    i4_pos before = tell();
    {
        PrintSink out(this);
        va_list ap;
        va_copy(ap, args);
        const char* p = format ? format : "";
        while (*p) {
            if (*p != '%') {
                out.put(*p++);
                continue;
            }
            const char* start = p++;
            while (*p && !isAsciiLetter(*p) && *p != '%') p++;
            if (!*p) break;  // an unfinished conversion prints nothing
            char kind = *p++;
            switch (kind) {
                case '%': out.put('%'); break;
                case 'c': out.put(static_cast<char>(va_arg(ap, int))); break;
                case 'd':
                case 'i': putSigned(out, va_arg(ap, int)); break;
                case 'u': putUnsigned(out, va_arg(ap, unsigned), 10); break;
                case 'o': putUnsigned(out, va_arg(ap, unsigned), 8); break;
                case 'x': putUnsigned(out, va_arg(ap, unsigned), 16); break;
                case 'p': putUnsigned(out, reinterpret_cast<uintptr_t>(va_arg(ap, void*)), 16); break;
                case 'D': putSigned(out, va_arg(ap, int64_t)); break;
                case 'U': putUnsigned(out, va_arg(ap, uint64_t), 10); break;
                case 'X': putUnsigned(out, va_arg(ap, uint64_t), 16); break;
                case 's': {
                    const char* s = va_arg(ap, const char*);
                    if (s) out.put(s, strlen(s));
                    break;
                }
                case 'S': {
                    auto s = va_arg(ap, const OwnedString*);
                    if (s && s->c_str()) out.put(s->c_str(), static_cast<size_t>(s->length()));
                    break;
                }
                case 'I': {
                    auto object = va_arg(ap, const i4_printable*);
                    if (!object) {
                        out.put("NULL", 4);
                    } else {
                        out.flush();
                        object->print(this);
                    }
                    break;
                }
                case 'f': {
                    double value = va_arg(ap, double);
                    char conversion[kMaxConversionText + 1];
                    size_t length = static_cast<size_t>(p - start);
                    // Only flags, width and precision may stand between '%'
                    // and 'f'; anything odd falls back to plain "%f".
                    bool plain = length > kMaxConversionText || memchr(start, '*', length) != nullptr;
                    if (plain) {
                        strcpy(conversion, "%f");
                    } else {
                        memcpy(conversion, start, length);
                        conversion[length] = 0;
                    }
                    char text[kFloatBuffer];
                    int n = snprintf(text, sizeof text, conversion, value);
                    if (n > 0) out.put(text, n < kFloatBuffer ? static_cast<size_t>(n) : sizeof text - 1);
                    break;
                }
                default:
                    break;  // unknown letters and length modifiers print nothing
            }
        }
        va_end(ap);
    }
    return static_cast<int>(tell() - before);
}
