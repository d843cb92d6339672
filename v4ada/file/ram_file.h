// Memory file over (buffer, capacity, grow step); grow step 0 = fixed size.
// Constructed readable at once (size = capacity). The class never frees
// the buffer: its owner takes it with data() and frees it with i4_free.
#pragma once

#include "v4ada/file/file.h"

class i4_ram_file_class : public i4_file {
public:
    i4_ram_file_class(void* buffer, i4_pos capacity, i4_pos growStep);

    int read(void* buffer, int n) override;
    int write(const void* buffer, int n) override;
    i4_pos seek(i4_pos position) override;
    i4_pos size() override { return size_; }
    i4_pos tell() override { return position_; }
    void* bufferAt(i4_pos offset) override { return buffer_ + offset; }
    bool inMemory() override { return true; }

    // A second file over the same buffer at this file's position; neither
    // may grow while the other is in use.
    i4_ram_file_class* clone() const;
    void setBuffer(void* buffer, i4_pos capacity, i4_pos growStep);

    uint8_t* data() const { return buffer_; }
    i4_pos capacity() const { return capacity_; }
    i4_pos growStep() const { return growStep_; }
    i4_pos remaining() const { return size_ > position_ ? size_ - position_ : 0; }

private:
    bool growTo(i4_pos needed);

    uint8_t* buffer_;
    i4_pos capacity_;
    i4_pos position_ = 0;
    i4_pos growStep_;
    i4_pos size_;
};
