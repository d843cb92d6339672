#include "v4ada/file/file_copy.h"

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "v4ada/file/fs.h"
#include "v4ada/file/unix_file.h"

bool fs_copy_bytes(i4_unix_file_class* from, i4_unix_file_class* to, i4_pos count) {
    std::unique_ptr<char[]> block(new char[kFsCopyBlock]);
    while (count > 0) {
        int want = count < static_cast<i4_pos>(kFsCopyBlock) ? static_cast<int>(count) : kFsCopyBlock;
        int got = from->read(block.get(), want);
        if (got <= 0) return false;
        if (to->write(block.get(), got) != got) return false;
        count -= static_cast<i4_pos>(got);
    }
    return true;
}

bool fs_append_file(const char* destination, const char* source) {
    std::unique_ptr<i4_unix_file_class> from(fs_open_unix(source, kFsRead));
    if (!from) return false;
    std::unique_ptr<i4_unix_file_class> to(fs_open_unix(destination, kFsWrite));
    if (!to) return false;
    i4_pos oldSize = to->size();
    i4_pos count = from->size();
    bool ok = to->seek(oldSize) == oldSize && fs_copy_bytes(from.get(), to.get(), count) && to->sync();
    if (!ok) {
        // Leave the destination as it was rather than with a torn tail.
        if (::ftruncate(to->descriptor(), static_cast<off_t>(oldSize)) != 0) {
            // Nothing more can be done; the caller sees the failure.
        }
        return false;
    }
    return to->close();
}

bool fs_move_tail(const char* source, const char* destination, i4_pos n) {
    std::unique_ptr<i4_unix_file_class> from(fs_open_unix(source, kFsRead | kFsWrite));
    if (!from) return false;
    i4_pos size = from->size();
    if (n > size) return false;
    if (n == size) {
        from.reset();
        return fs_move(source, destination) == 0;
    }
    std::unique_ptr<i4_unix_file_class> to(fs_open_unix(destination, kFsWrite | kFsTruncate));
    if (!to) return false;
    i4_pos keep = size - n;
    bool ok = from->seek(keep) == keep && fs_copy_bytes(from.get(), to.get(), n) && to->sync();
    ok = to->close() && ok;
    if (!ok) {
        fs_remove(destination);
        return false;
    }
    if (::ftruncate(from->descriptor(), static_cast<off_t>(keep)) != 0 || !from->sync()) {
        // The tail is safely in the destination, but the source could not
        // be cut: undo so that the bytes are not counted twice.
        fs_remove(destination);
        return false;
    }
    return true;
}
