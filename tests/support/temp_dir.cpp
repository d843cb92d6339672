#include "support/temp_dir.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace support {

TempDir::TempDir(const std::string& base) {
    std::string root = base;
    if (root.empty()) {
        root = std::string(TANDREL_BINARY_DIR) + "/test-scratch";
        std::error_code ignored;
        std::filesystem::create_directories(root, ignored);
    }
    std::string pattern = root + "/tXXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    // Tests take permissions away to provoke failures; give them back so
    // that everything can be removed.
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) ::chmod(it->path().c_str(), 0700);
    }
    ::chmod(path_.c_str(), 0700);
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace support
