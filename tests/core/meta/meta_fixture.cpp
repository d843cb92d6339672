#include "meta_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/meta/special_tags.h"
#include "v4ada/error/error.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/memory/malloc4.h"

namespace {
std::string g_console;
void captureConsole(const OwnedString& text) { g_console += text.c_str() ? text.c_str() : ""; }
}  // namespace

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

void MetaTest::SetUp() {
    resetSpecialTags();
    initSpecialTags();
    g_console.clear();
    set_console_print_hook(captureConsole);
    previousDebug_ = debug_output();
    debug_ = new ByteWriter();
    set_debug_output(debug_->file());
}

void MetaTest::TearDown() {
    set_console_print_hook(nullptr);
    set_debug_output(previousDebug_);
    delete debug_;
    debug_ = nullptr;
    resetSpecialTags();
}

std::string MetaTest::console() {
    std::string out;
    out.swap(g_console);
    return out;
}

std::string MetaTest::debug() {
    Bytes bytes = debug_->bytes();
    delete debug_;
    debug_ = new ByteWriter();
    set_debug_output(debug_->file());
    return std::string(bytes.begin(), bytes.end());
}

ScratchDir::ScratchDir() {
    std::string base = std::string(TANDREL_BINARY_DIR) + "/scratch";
    std::filesystem::create_directories(base);
    std::string pattern = base + "/meta-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
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
