// Shared helpers of the record tests: byte buffers as memory files, the
// captured console and debug output, the special-tag table per test and a
// scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/core_scratch_fixture.h"
#include "core/ui/ui_gateway.h"
#include "v4ada/file/ram_file.h"

using Bytes = std::vector<uint8_t>;

// A read-only memory file over a copy of the bytes.
class ByteReader {
public:
    explicit ByteReader(const Bytes& bytes);
    i4_ram_file_class* file() { return &file_; }
    i4_pos position() { return file_.tell(); }

private:
    Bytes bytes_;
    i4_ram_file_class file_;
};

// A growing memory file; bytes() is what was written.
class ByteWriter {
public:
    ByteWriter();
    ~ByteWriter();
    i4_ram_file_class* file() { return &file_; }
    Bytes bytes();

private:
    i4_ram_file_class file_;
};

Bytes le16(uint16_t v);
Bytes le32(uint32_t v);
Bytes le64(uint64_t v);
Bytes text(const std::string& s);
// The concatenation of the pieces.
Bytes cat(std::initializer_list<Bytes> pieces);

// An output gateway that keeps what is printed: the printed channels in
// one text, the debug channel in another.
class CaptureUI : public UIGateway {
public:
    void vprint(const char* format, va_list args) override;
    void vprintRaw(const char* format, va_list args) override;
    void vprintFlush(const char* format, va_list args) override;
    void vdebug(const char* format, va_list args) override;
    std::string printed, debugged;
};

// Sets up the special tags and captures the output gateway's channels.
class MetaTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Printed and debug texts since the last call, then cleared.
    std::string console();
    std::string debug();

private:
    CaptureUI ui_;
    UIGateway* previous_ = nullptr;
};

void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);
bool fileExists(const std::string& path);
