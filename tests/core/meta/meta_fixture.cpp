#include "meta_fixture.h"

#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/meta/special_tags.h"
#include "v4ada/memory/malloc4.h"

ByteReader::ByteReader(const Bytes& bytes) : bytes_(bytes), file_(bytes_.data(), bytes_.size(), 0) {}

ByteWriter::ByteWriter() : file_(nullptr, 0, 256) {}

ByteWriter::~ByteWriter() { i4_free(file_.data()); }

Bytes ByteWriter::bytes() { return Bytes(file_.data(), file_.data() + file_.size()); }

Bytes le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes le64(uint64_t v) { return cat({le32(uint32_t(v)), le32(uint32_t(v >> 32))}); }
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> pieces) {
    Bytes out;
    for (const Bytes& piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
    return out;
}

namespace {
std::string formatted(const char* format, va_list args) {
    OwnedString text;
    text.vformat(format, args);
    return text.c_str() ? text.c_str() : "";
}
}  // namespace

void CaptureUI::vprint(const char* format, va_list args) { printed += formatted(format, args) + "\n"; }
void CaptureUI::vprintRaw(const char* format, va_list args) { printed += formatted(format, args); }
void CaptureUI::vprintFlush(const char* format, va_list args) { printed += formatted(format, args); }
void CaptureUI::vdebug(const char* format, va_list args) { debugged += formatted(format, args); }

void MetaTest::SetUp() {
    resetSpecialTags();
    initSpecialTags();
    previous_ = setCurrentUI(&ui_);
}

void MetaTest::TearDown() {
    setCurrentUI(previous_);
    resetSpecialTags();
}

std::string MetaTest::console() {
    std::string out;
    out.swap(ui_.printed);
    return out;
}

std::string MetaTest::debug() {
    std::string out;
    out.swap(ui_.debugged);
    return out;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }
