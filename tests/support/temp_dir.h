// TempDir: a fresh scratch directory for one test, removed with everything
// in it when the object goes.
#pragma once

#include <string>

namespace support {

class TempDir {
public:
    // Made under base (a directory that must exist); under the build tree's
    // "test-scratch" folder when base is empty.
    explicit TempDir(const std::string& base = "");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // False when the directory could not be made (path() is then empty).
    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace support
