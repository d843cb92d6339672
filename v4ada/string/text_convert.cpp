#include "v4ada/string/text_convert.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool holds_letter(const char* text, char lower) {
    char upper = static_cast<char>(lower - 'a' + 'A');
    return std::strchr(text, lower) != nullptr || std::strchr(text, upper) != nullptr;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

float parseSize(const char* text) {
    if (text == nullptr) return 0.0f;
    double value = std::atof(text);
    if (holds_letter(text, 'g')) {
        value *= 1073741824.0;
    } else if (holds_letter(text, 'm')) {
        value *= 1048576.0;
    } else if (holds_letter(text, 'k')) {
        value *= 1024.0;
    }
    return static_cast<float>(value);
}

float parseMinutes(const char* text) {
    if (text == nullptr) return 0.0f;
    double value = std::atof(text);
    if (holds_letter(text, 'h') && !holds_letter(text, 'm')) value *= 60.0;
    return static_cast<float>(value);
}

OwnedString formatSize(int64_t size) {
    char buffer[64];
    double value = static_cast<double>(size);
    if (size > 1000000000) {
        std::snprintf(buffer, sizeof buffer, "%.2fG", value / 1073741824.0);
    } else if (size > 1000000) {
        std::snprintf(buffer, sizeof buffer, "%.2fM", value / 1048576.0);
    } else if (size > 1000) {
        std::snprintf(buffer, sizeof buffer, "%.2fK", value / 1024.0);
    } else {
        // The whole 64-bit value, so a large negative size prints as itself.
        std::snprintf(buffer, sizeof buffer, "%" PRId64, size);
    }
    return OwnedString(buffer);
}

void urlUnescape(char* text) {
    if (text == nullptr) return;
    char* out = text;
    const char* in = text;
    while (*in != 0) {
        char c = *in;
        if (c == '+') {
            *out++ = ' ';
            in++;
            continue;
        }
        if (c == '%' && in[1] != 0 && in[2] != 0) {
            int high = hex_value(in[1]);
            int low = hex_value(in[2]);
            if (high >= 0 && low >= 0) {
                *out++ = static_cast<char>(high * 16 + low);
                in += 3;
                if (high == 0 && low == 0) break;  // "%00" ends the text
                continue;
            }
        }
        *out++ = c;
        in++;
    }
    *out = 0;
}

std::string printableText(const char* text) {
    std::string out;
    if (text == nullptr) return out;
    static const char kHex[] = "0123456789abcdef";
    for (const char* c = text; *c != 0; ++c) {
        auto byte = static_cast<unsigned char>(*c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += *c;
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\t') {
            out += "\\t";
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}
