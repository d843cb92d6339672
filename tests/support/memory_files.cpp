#include "support/memory_files.h"

#include "v4ada/memory/malloc4.h"

namespace support {

ByteReader::ByteReader(const Bytes& bytes) : bytes_(bytes), file_(bytes_.data(), bytes_.size(), 0) {}

ByteWriter::ByteWriter() : file_(nullptr, 0, 256) {}

ByteWriter::~ByteWriter() { i4_free(file_.data()); }

Bytes ByteWriter::bytes() { return Bytes(file_.data(), file_.data() + file_.size()); }

}  // namespace support
