#include "core/filter/filter_lines.h"

void FilterLineReader::endPiece() {
    if (textLength_ > 0) {
        text_[textLength_] = 0;
        onLine_(text_, textLength_);
    }
    pieceLength_ = 0;
    textLength_ = 0;
    textEnded_ = false;
}

void FilterLineReader::feed(const char* data, size_t length) {
    for (size_t i = 0; i < length; i++) {
        char c = data[i];
        pieceLength_++;
        if (c == '\n') {
            endPiece();
            continue;
        }
        if (c == '\r' || c == 0) textEnded_ = true;
        if (!textEnded_) text_[textLength_++] = c;
        if (pieceLength_ == kFilterPieceMax) endPiece();
    }
}

void FilterLineReader::finish() { endPiece(); }
