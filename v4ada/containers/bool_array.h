// BoolArray: a bit vector carrying part and crumb maps. Bit i lives in
// byte i/8 under mask 1 << (i mod 8), least significant bit first.
#pragma once

#include <cstdint>

#include "v4ada/file/file.h"

// Encoded form (files and wire): u16 LE count, then count/8 + 1 bytes of
// bits only when count != 0.
constexpr unsigned kBoolArrayMaxEncodedCount = 0xFFFF;

class BoolArray {
public:
    BoolArray();
    explicit BoolArray(unsigned count);
    // count bits; bit i set when bytes[i] is non-zero.
    BoolArray(const char* bytes, unsigned count);
    ~BoolArray();
    BoolArray(const BoolArray&) = delete;
    BoolArray& operator=(const BoolArray&) = delete;

    // Index at or past the count raises "boolarray out of bounds".
    bool get(unsigned i) const;
    void set(unsigned i, bool value);
    // Whole bytes, so the spare bits of the last byte follow the value.
    void setAll(bool value);
    bool allEqual(bool value) const;
    // Drops the old bits; count bits, all clear.
    void resize(unsigned count);
    // Null clears every bit; otherwise becomes a copy of other.
    void assign(const BoolArray* other);
    // '1'/'0' for the first min(count, n) bits and a terminator (n + 1 bytes).
    void toString(char* buffer, unsigned n) const;
    void randomize();

    // count/8 + 3, also for an empty array (whose encoded form is 2 bytes).
    unsigned serializedSize() const;
    // Raises i4_err for an array too large for the 16-bit count.
    void write(i4_file* file) const;
    // Input that is cut short raises i4_err and leaves the array unchanged.
    void read(i4_file* file);

    unsigned count() const { return count_; }
    uint8_t* bits() { return bits_; }
    const uint8_t* bits() const { return bits_; }

private:
    static unsigned byteCount(unsigned count) { return count / 8 + 1; }

    unsigned count_;
    uint8_t* bits_;
};
