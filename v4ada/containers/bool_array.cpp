#include "v4ada/containers/bool_array.h"

#include <cstring>

#include "v4ada/error/error.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/time/random.h"

namespace {

uint8_t* zeroedBytes(unsigned n) {
    uint8_t* bytes = static_cast<uint8_t*>(i4_malloc(n));
    std::memset(bytes, 0, n);
    return bytes;
}

}  // namespace

BoolArray::BoolArray() : count_(0), bits_(nullptr) {}

BoolArray::BoolArray(unsigned count) : count_(count), bits_(zeroedBytes(byteCount(count))) {}

BoolArray::BoolArray(const char* bytes, unsigned count) : BoolArray(count) {
    for (unsigned i = 0; i < count; i++)
        if (bytes[i] != 0) bits_[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
}

BoolArray::~BoolArray() { i4_free(bits_); }

bool BoolArray::get(unsigned i) const {
    if (i >= count_) {
        error_at(__FILE__, __LINE__)("boolarray out of bounds");
        return false;
    }
    return (bits_[i / 8] >> (i % 8)) & 1;
}

void BoolArray::set(unsigned i, bool value) {
    if (i >= count_) {
        error_at(__FILE__, __LINE__)("boolarray out of bounds");
        return;
    }
    uint8_t mask = static_cast<uint8_t>(1u << (i % 8));
    if (value)
        bits_[i / 8] |= mask;
    else
        bits_[i / 8] &= static_cast<uint8_t>(~mask);
}

void BoolArray::setAll(bool value) {
    if (count_ == 0 || bits_ == nullptr) return;
    std::memset(bits_, value ? 0xFF : 0x00, byteCount(count_));
}

bool BoolArray::allEqual(bool value) const {
    for (unsigned i = 0; i < count_; i++)
        if ((((bits_[i / 8] >> (i % 8)) & 1) != 0) != value) return false;
    return true;
}

void BoolArray::resize(unsigned count) {
    i4_free(bits_);
    bits_ = nullptr;
    count_ = count;
    if (count != 0) bits_ = zeroedBytes(byteCount(count));
}

void BoolArray::assign(const BoolArray* other) {
    if (other == this) return;
    if (other == nullptr) {
        if (bits_ != nullptr) std::memset(bits_, 0, byteCount(count_));
        return;
    }
    resize(other->count_);
    if (other->count_ != 0) std::memcpy(bits_, other->bits_, byteCount(other->count_));
}

void BoolArray::toString(char* buffer, unsigned n) const {
    unsigned shown = count_ < n ? count_ : n;
    for (unsigned i = 0; i < shown; i++) buffer[i] = ((bits_[i / 8] >> (i % 8)) & 1) ? '1' : '0';
    buffer[shown] = 0;
}

void BoolArray::randomize() {
    for (unsigned i = 0; i < count_; i++) set(i, random_below(2) != 0);
}

unsigned BoolArray::serializedSize() const { return count_ / 8 + 3; }

void BoolArray::write(i4_file* file) const {
    if (count_ > kBoolArrayMaxEncodedCount) {
        error_at(__FILE__, __LINE__)("boolarray of %u bits too large to write", count_);
        return;
    }
    file->write_16(static_cast<uint16_t>(count_));
    if (count_ != 0) file->write(bits_, static_cast<int>(byteCount(count_)));
}

void BoolArray::read(i4_file* file) {
    unsigned count = file->read_16();
    uint8_t* bytes = nullptr;
    if (count != 0) {
        // A u16 count needs at most 8,193 bytes: they are read whole, from
        // any stream, whether or not it knows its size.
        unsigned n = byteCount(count);
        bytes = zeroedBytes(n);
        bool whole = true;
        try {
            file->readAll(bytes, static_cast<int>(n));
        } catch (i4_err&) {
            whole = false;
        }
        if (!whole) {
            i4_free(bytes);
            error_at(__FILE__, __LINE__)("boolarray of %u bits cut short", count);
            return;
        }
    }
    i4_free(bits_);
    bits_ = bytes;
    count_ = count;
}
