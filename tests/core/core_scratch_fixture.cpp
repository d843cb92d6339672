#include "core/core_scratch_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    std::string base = std::string(TANDREL_BINARY_DIR) + "/scratch";
    fs::create_directories(base);
    std::string pattern = base + "/core-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
}

ScratchDir::~ScratchDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void write_file(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool file_exists(const std::string& path) { return fs::exists(path); }
