// Memory files over test bytes: a reader over a private copy, and a
// growing writer whose bytes can be taken afterwards.
#pragma once

#include "support/bytes.h"
#include "v4ada/file/ram_file.h"

namespace support {

class ByteReader {
public:
    explicit ByteReader(const Bytes& bytes);
    ByteReader(const ByteReader&) = delete;
    ByteReader& operator=(const ByteReader&) = delete;
    i4_ram_file_class* file() { return &file_; }
    i4_pos position() { return file_.tell(); }

private:
    Bytes bytes_;
    i4_ram_file_class file_;
};

class ByteWriter {
public:
    ByteWriter();
    ~ByteWriter();
    ByteWriter(const ByteWriter&) = delete;
    ByteWriter& operator=(const ByteWriter&) = delete;
    i4_ram_file_class* file() { return &file_; }
    // What was written so far.
    Bytes bytes();

private:
    i4_ram_file_class file_;
};

}  // namespace support
