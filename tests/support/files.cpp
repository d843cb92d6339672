#include "support/files.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace support {

bool write_file(const std::string& path, std::string_view content) {
    std::error_code ignored;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    return out.good();
}

bool write_file(const std::string& path, const Bytes& content) { return write_file(path, as_text(content)); }

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Bytes read_bytes(const std::string& path) {
    // In blocks: tests compare files of tens of megabytes.
    std::ifstream in(path, std::ios::binary);
    Bytes out;
    char block[1 << 16];
    while (in) {
        in.read(block, sizeof block);
        out.insert(out.end(), block, block + in.gcount());
    }
    return out;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

long long device_of(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<long long>(st.st_dev);
}

FileSizeLimit::FileSizeLimit(unsigned long long bytes) {
    struct rlimit limit;
    ::getrlimit(RLIMIT_FSIZE, &limit);
    oldSoft_ = limit.rlim_cur;
    limit.rlim_cur = bytes;
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
    struct rlimit limit;
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = oldSoft_;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, oldHandler_);
}

}  // namespace support
