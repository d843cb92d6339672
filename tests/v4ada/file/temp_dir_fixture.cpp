#include "v4ada/file/temp_dir_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <csignal>
#include <ftw.h>
#include <sys/resource.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {
int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);
    return 0;
}
}  // namespace

TempDir::TempDir(const std::string& base) {
    std::string root = base;
    if (root.empty()) {
        root = std::string(TANDREL_BINARY_DIR) + "/test-scratch";
        ::mkdir(root.c_str(), 0777);
    }
    std::string pattern = root + "/fsXXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
    if (!path_.empty()) ::nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void write_text(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path) {
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
