#include "downloads/storage/storage_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace storage_test {

Scratch::Scratch() {
    std::string base = std::string(TANDREL_BINARY_DIR) + "/scratch";
    fs::create_directories(base);
    std::string name = base + "/storage-XXXXXX";
    if (mkdtemp(name.data())) path_ = name;
}

Scratch::~Scratch() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

Output::Output() { previous_ = setCurrentUI(this); }

Output::~Output() { setCurrentUI(previous_); }

std::string Output::take() {
    SysMutexGuard guard(&lock_);
    std::string out;
    out.swap(text_);
    return out;
}

std::string Output::text() {
    SysMutexGuard guard(&lock_);
    return text_;
}

void Output::writeOutput(const char* text, int length) {
    SysMutexGuard guard(&lock_);
    text_.append(text, static_cast<size_t>(length));
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

Bytes pattern(size_t n, uint32_t seed) {
    Bytes data(n);
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<uint8_t>(x >> 23);
    }
    return data;
}

}  // namespace storage_test
