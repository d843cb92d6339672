#include "v4ada/file/buffered_file.h"

#include <cstring>

#include "v4ada/memory/malloc4.h"

i4_buffered_file_class::i4_buffered_file_class(i4_file* inner, int bufferSize, i4_pos start)
    : inner_(inner),
      buffer_(static_cast<uint8_t*>(i4_malloc(static_cast<size_t>(bufferSize > 0 ? bufferSize : 1)))),
      bufferSize_(bufferSize > 0 ? bufferSize : 1),
      windowStart_(0),
      windowEnd_(0),
      position_(start) {}

i4_buffered_file_class::~i4_buffered_file_class() {
    flush();
    delete inner_;
    i4_free(buffer_);
}

// Writes the window's bytes at their offset; the window is then empty.
bool i4_buffered_file_class::writeWindow() {
    int count = static_cast<int>(windowEnd_ - windowStart_);
    bool ok = true;
    if (count > 0) {
        inner_->seek(windowStart_);
        ok = inner_->write(buffer_, count) == count;
    }
    windowStart_ = windowEnd_;
    return ok;
}

int i4_buffered_file_class::read(void* buffer, int n) {
    if (writing_) {
        writeWindow();
        writing_ = false;
    }
    auto out = static_cast<uint8_t*>(buffer);
    int served = 0;
    while (served < n) {
        if (position_ >= windowStart_ && position_ < windowEnd_) {
            i4_pos available = windowEnd_ - position_;
            int step = available < static_cast<i4_pos>(n - served) ? static_cast<int>(available) : n - served;
            memcpy(out + served, buffer_ + (position_ - windowStart_), static_cast<size_t>(step));
            position_ += static_cast<i4_pos>(step);
            served += step;
        } else {
            windowStart_ = windowEnd_ = position_;
            inner_->seek(position_);
            int got = inner_->read(buffer_, bufferSize_);
            if (got <= 0) break;
            windowEnd_ += static_cast<i4_pos>(got);
        }
    }
    return served;
}

int i4_buffered_file_class::write(const void* buffer, int n) {
    if (!writing_) {
        windowStart_ = windowEnd_ = position_;
        writing_ = true;
    }
    auto in = static_cast<const uint8_t*>(buffer);
    int written = 0;
    while (written < n) {
        bool outside = position_ < windowStart_ || position_ > windowEnd_ ||
                       position_ - windowStart_ >= static_cast<i4_pos>(bufferSize_);
        if (outside) {
            if (!writeWindow()) return written ? written : -1;
            windowStart_ = windowEnd_ = position_;
        }
        i4_pos room = windowStart_ + static_cast<i4_pos>(bufferSize_) - position_;
        int step = room < static_cast<i4_pos>(n - written) ? static_cast<int>(room) : n - written;
        memcpy(buffer_ + (position_ - windowStart_), in + written, static_cast<size_t>(step));
        position_ += static_cast<i4_pos>(step);
        written += step;
        if (position_ > windowEnd_) windowEnd_ = position_;
        if (windowEnd_ - windowStart_ == static_cast<i4_pos>(bufferSize_)) {
            if (!writeWindow()) return written ? written : -1;
        }
    }
    return written;
}

void i4_buffered_file_class::flush() {
    if (writing_ && windowEnd_ > windowStart_) writeWindow();
    inner_->flush();
}

void* i4_buffered_file_class::bufferAt(i4_pos offset) {
    flush();
    return inner_->bufferAt(offset);
}
