// A buffer window over another file that it owns (deleted with it).
#pragma once

#include "v4ada/file/file.h"

class i4_buffered_file_class : public i4_file {
public:
    i4_buffered_file_class(i4_file* inner, int bufferSize, i4_pos start);
    ~i4_buffered_file_class() override;

    int read(void* buffer, int n) override;
    int write(const void* buffer, int n) override;
    i4_pos seek(i4_pos position) override { return position_ = position; }
    i4_pos size() override { return inner_->size(); }
    i4_pos tell() override { return position_; }
    void flush() override;
    void* bufferAt(i4_pos offset) override;
    bool inMemory() override { return inner_->inMemory(); }

private:
    bool writeWindow();

    i4_file* inner_;
    uint8_t* buffer_;
    int bufferSize_;
    i4_pos windowStart_;
    i4_pos windowEnd_;
    i4_pos position_;
    bool writing_ = false;
};
