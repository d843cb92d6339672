#include "v4ada/containers/unique_id.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "v4ada/error/error.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/memory/memory.h"

namespace {

// Value of one hex digit, -1 when the character is not one.
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

UniqueID::UniqueID() { std::memset(bytes_, 0, sizeof bytes_); }

bool UniqueID::isZero() const {
    for (uint8_t b : bytes_)
        if (b != 0) return false;
    return true;
}

bool UniqueID::equals(const UniqueID& other) const { return equals(other.bytes_); }

bool UniqueID::equals(const void* bytes) const { return i4memcmp(bytes_, bytes, kUniqueIdSize) == 0; }

void UniqueID::copy(const UniqueID& other) { copy(other.bytes_); }

void UniqueID::copy(const void* bytes) {
    if (bytes != bytes_) std::memmove(bytes_, bytes, kUniqueIdSize);
}

void UniqueID::randomize() {
    for (uint8_t& b : bytes_) b = static_cast<uint8_t>(rand() & 0xFF);
}

int UniqueID::bit(unsigned i) const {
    if (i >= 8 * kUniqueIdSize) return 0;
    return (bytes_[i / 8] >> (7 - i % 8)) & 1;
}

void UniqueID::setBit(unsigned i, bool value) {
    if (i >= 8 * kUniqueIdSize) return;
    uint8_t mask = static_cast<uint8_t>(0x80u >> (i % 8));
    if (value)
        bytes_[i / 8] |= mask;
    else
        bytes_[i / 8] &= static_cast<uint8_t>(~mask);
}

int UniqueID::write(i4_file* file) const { return file->write(bytes_, kUniqueIdSize); }

int UniqueID::read(i4_file* file) {
    uint8_t in[kUniqueIdSize];
    int got = 0;
    while (got < kUniqueIdSize) {
        int n = file->read(in + got, kUniqueIdSize - got);
        if (n <= 0) break;
        got += n;
    }
    if (got != kUniqueIdSize) {
        error_at(__FILE__, __LINE__)("uniqueid read error");
        return got;
    }
    std::memcpy(bytes_, in, kUniqueIdSize);
    return got;
}

char* UniqueID::toHex() const {
    static const char digits[] = "0123456789abcdef";
    char* text = static_cast<char*>(i4_malloc(kUniqueIdHexDigits + 3));
    for (int k = 0; k < kUniqueIdSize; k++) {
        text[2 * k] = digits[bytes_[k] >> 4];
        text[2 * k + 1] = digits[bytes_[k] & 0x0F];
    }
    text[kUniqueIdHexDigits] = 0;
    return text;
}

bool UniqueID::fromHex(const char* text) {
    if (text == nullptr || std::strlen(text) != kUniqueIdHexDigits) return false;
    uint8_t parsed[kUniqueIdSize];
    for (int k = 0; k < kUniqueIdSize; k++) {
        int high = hexValue(text[2 * k]);
        int low = hexValue(text[2 * k + 1]);
        if (high < 0 || low < 0) return false;
        parsed[k] = static_cast<uint8_t>(high << 4 | low);
    }
    std::memcpy(bytes_, parsed, kUniqueIdSize);
    return true;
}

void UniqueID::toBitString(char* buffer, int size) const {
    if (buffer == nullptr || size < 1) return;
    int n = size - 1 < 8 * kUniqueIdSize ? size - 1 : 8 * kUniqueIdSize;
    for (int i = 0; i < n; i++) buffer[i] = bit(static_cast<unsigned>(i)) ? '1' : '0';
    buffer[n] = 0;
}

float UniqueID::distance(const UniqueID& other) const {
    float sum = 0.0f;
    for (unsigned q = 0; q < 8 * kUniqueIdSize; q++)
        if (bit(q) != other.bit(q)) sum += std::ldexp(1.0f, 126 - static_cast<int>(q));
    return sum;
}
