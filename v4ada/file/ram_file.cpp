#include "v4ada/file/ram_file.h"

#include <cstring>

#include "v4ada/error/error.h"
#include "v4ada/memory/malloc4.h"

namespace {
// No memory file is ever legitimately this large; a request beyond it is
// treated like a failed allocation instead of reserving gigabytes.
constexpr i4_pos kMaxRamFile = i4_pos(1) << 30;
}  // namespace

i4_ram_file_class::i4_ram_file_class(void* buffer, i4_pos capacity, i4_pos growStep)
    : buffer_(static_cast<uint8_t*>(buffer)), capacity_(capacity), growStep_(growStep), size_(capacity) {}

void i4_ram_file_class::setBuffer(void* buffer, i4_pos capacity, i4_pos growStep) {
    buffer_ = static_cast<uint8_t*>(buffer);
    capacity_ = capacity;
    growStep_ = growStep;
    position_ = 0;
    size_ = capacity;
}

// Grows a growable file by whole steps until `needed` bytes fit; new
// memory is zeroed so a gap left by a seek never exposes stale heap bytes.
bool i4_ram_file_class::growTo(i4_pos needed) {
    if (needed <= capacity_) return true;
    if (growStep_ == 0) return false;
    i4_pos steps = (needed - capacity_ + growStep_ - 1) / growStep_;
    i4_pos grown = capacity_ + steps * growStep_;
    if (grown > kMaxRamFile) error_at(i4_module::kMalloc, __LINE__)("out of memory");
    buffer_ = static_cast<uint8_t*>(i4_realloc(buffer_, grown));
    memset(buffer_ + capacity_, 0, grown - capacity_);
    capacity_ = grown;
    return true;
}

int i4_ram_file_class::read(void* buffer, int n) {
    if (n <= 0 || position_ >= size_) return 0;
    i4_pos count = size_ - position_;
    if (count > static_cast<i4_pos>(n)) count = static_cast<i4_pos>(n);
    memcpy(buffer, buffer_ + position_, count);
    position_ += count;
    return static_cast<int>(count);
}

int i4_ram_file_class::write(const void* buffer, int n) {
    if (n <= 0) return 0;
    i4_pos count = static_cast<i4_pos>(n);
    if (position_ + count > capacity_ && !growTo(position_ + count))
        count = capacity_ > position_ ? capacity_ - position_ : 0;
    if (count == 0) return 0;
    memcpy(buffer_ + position_, buffer, count);
    position_ += count;
    if (position_ > size_) size_ = position_;
    return static_cast<int>(count);
}

i4_pos i4_ram_file_class::seek(i4_pos position) {
    if (position > capacity_ && !growTo(position)) position = capacity_;
    position_ = position;
    if (position_ > size_) size_ = position_;
    return position_;
}

i4_ram_file_class* i4_ram_file_class::clone() const {
    auto copy = new i4_ram_file_class(buffer_, capacity_, growStep_);
    copy->position_ = position_;
    return copy;
}
