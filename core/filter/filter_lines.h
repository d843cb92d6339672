// The reader of filters.txt: one filter per line, line ends "\n" or
// "\r\n". Lines are taken in pieces of at most kFilterPieceMax bytes, so a
// longer line gives several filters, one per piece; within a piece a
// carriage return (or a zero byte) ends the text. Empty pieces give no
// filter.
//
// FilterLineReader is fed the file in blocks of any size and hands each
// non-empty text to its callback, so a file of any length is read in
// constant memory.
#pragma once

#include <cstddef>
#include <functional>
#include <utility>

constexpr int kFilterPieceMax = 255;

class FilterLineReader {
public:
    using LineFn = std::function<void(const char* text, int length)>;

    explicit FilterLineReader(LineFn onLine) : onLine_(std::move(onLine)) {}

    void feed(const char* data, size_t length);
    // Ends the input: a last line without a line end is handed over.
    void finish();

private:
    void endPiece();

    LineFn onLine_;
    char text_[kFilterPieceMax + 1];
    int pieceLength_ = 0;  // bytes of the current piece consumed
    int textLength_ = 0;   // bytes of its text (before any CR or zero)
    bool textEnded_ = false;
};
