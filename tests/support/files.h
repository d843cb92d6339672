// Small file helpers for tests, independent of the code under test.
#pragma once

#include <string>
#include <string_view>

#include "support/bytes.h"

namespace support {

// Writes the file (replacing it), creating missing directories on the way;
// false when it could not be written.
bool write_file(const std::string& path, std::string_view content);
bool write_file(const std::string& path, const Bytes& content);
// The file's bytes; "<missing>" when it cannot be opened.
std::string read_file(const std::string& path);
// The file's bytes; empty when it cannot be opened.
Bytes read_bytes(const std::string& path);
// Whether anything (a link too) exists at the path.
bool file_exists(const std::string& path);
// Device of the file system holding the path, or -1.
long long device_of(const std::string& path);

// While it lives, writes that would make any file longer than the limit
// fail with EFBIG, as on a full disk (SIGXFSZ is ignored meanwhile).
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

}  // namespace support
