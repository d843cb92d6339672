#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "v4ada/file/file_copy.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/unix_file.h"

namespace {

// Copies from onto to (replacing it) and removes from once the copy is
// complete and on the disk.
int copy_then_remove(const char* from, const char* to) {
    std::unique_ptr<i4_unix_file_class> source(fs_open_unix(from, kFsRead));
    if (!source) return 1;
    std::unique_ptr<i4_unix_file_class> target(fs_open_unix(to, kFsWrite | kFsTruncate));
    if (!target) return 1;
    bool ok = fs_copy_bytes(source.get(), target.get(), source->size());
    // Nothing may be left to read: a source that grew is not copied whole.
    char extra;
    ok = ok && source->read(&extra, 1) == 0;
    ok = ok && target->sync();
    ok = target->close() && ok;
    source.reset();
    if (!ok) {
        fs_remove(to);
        return 1;
    }
    return fs_remove(from) ? 0 : 1;
}

}  // namespace

int fs_move(const char* from, const char* to) {
    if (from == nullptr || to == nullptr) return 1;
    if (::rename(from, to) == 0) return 0;
    if (errno != EXDEV) return 1;
    return copy_then_remove(from, to);
}

OwnedString fs_keep_aside(const char* path) {
    if (path == nullptr) return OwnedString(static_cast<const char*>(nullptr));
    OwnedString target;
    struct stat st;
    for (int n = 0; n < 1000; ++n) {
        if (n == 0) {
            target.format("%s.corrupt", path);
        } else {
            target.format("%s.corrupt.%d", path, n);
        }
        if (::lstat(target.c_str(), &st) == 0) continue;
        if (errno != ENOENT) break;
        // link + unlink never replaces a file that appeared meanwhile.
        if (::link(path, target.c_str()) == 0) {
            if (::unlink(path) == 0) return target;
            ::unlink(target.c_str());
            break;
        }
        if (errno == EEXIST) continue;
        // File systems without hard links: a plain rename.
        if (::rename(path, target.c_str()) == 0) return target;
        break;
    }
    return OwnedString(static_cast<const char*>(nullptr));
}
