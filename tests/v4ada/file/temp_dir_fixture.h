// A scratch directory for file-system tests, removed with everything in it.
#pragma once

#include <string>

class TempDir {
public:
    // Made under base (a directory that must exist); the build tree's
    // scratch folder when base is empty.
    explicit TempDir(const std::string& base = "");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void write_text(const std::string& path, const std::string& content);
// The file's bytes; "<missing>" when it cannot be opened.
std::string read_text(const std::string& path);
bool exists(const std::string& path);
// Device of the file system holding the path, or -1.
long long device_of(const std::string& path);

// While it lives, writes that would make any file longer than the limit
// fail (EFBIG) as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long long oldSoft_;
    void (*oldHandler_)(int);
};
