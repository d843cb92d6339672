// UniqueID: a 16-byte value naming files, parts, users, overlay nodes and
// index keys. Bit i (0..127) is bit 7 - (i mod 8) of byte i/8, so bit 0 is
// the most significant bit of byte 0.
#pragma once

#include <cstdint>

#include "v4ada/file/file.h"

// Encoded form (files and wire): the 16 raw bytes in order.
constexpr int kUniqueIdSize = 16;
// Text form: 32 lower-case hexadecimal digits, two per byte in byte order.
constexpr int kUniqueIdHexDigits = 32;

class UniqueID {
public:
    UniqueID();

    bool isZero() const;
    bool equals(const UniqueID& other) const;
    bool equals(const void* bytes) const;  // 16 bytes
    void copy(const UniqueID& other);
    void copy(const void* bytes);  // 16 bytes

    // Each byte from the low 8 bits of one call of rand.
    void randomize();

    // Bit i; 0 for i >= 128.
    int bit(unsigned i) const;
    // Sets or clears bit i; nothing for i >= 128.
    void setBit(unsigned i, bool value);

    // The 16 bytes in one write; returns what the write returned.
    int write(i4_file* file) const;
    // Reads 16 bytes; input that ends first raises i4_err and leaves the
    // identifier unchanged. Returns 16.
    int read(i4_file* file);

    // New heap text of 32 lower-case hex digits; free it with i4_free.
    char* toHex() const;
    // Takes exactly 32 hex digits (either case); anything else returns
    // false and leaves the identifier unchanged.
    bool fromHex(const char* text);
    // '1'/'0' for each of the first min(128, size - 1) bits, then a
    // terminator; nothing when size < 1.
    void toBitString(char* buffer, int size) const;

    // XOR distance: the sum of 2^(126 - q) over each bit position q where
    // the two identifiers differ.
    float distance(const UniqueID& other) const;

    uint8_t* bytes() { return bytes_; }
    const uint8_t* bytes() const { return bytes_; }

private:
    uint8_t bytes_[kUniqueIdSize];
};

// An MD4 digest held as an identifier.
class Md4Hash : public UniqueID {};
