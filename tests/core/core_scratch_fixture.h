// A scratch directory for the core's file tests, removed with everything
// in it, and small file helpers.
#pragma once

#include <string>

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes the file, creating missing directories on the way.
void write_file(const std::string& path, const std::string& content);
// The file's bytes; "<missing>" when it cannot be opened.
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
