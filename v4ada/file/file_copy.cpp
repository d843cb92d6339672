#include "v4ada/file/file_copy.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "v4ada/file/fs.h"
#include "v4ada/file/unix_file.h"

namespace {

enum class KernelCopy { kDone, kUnsupported, kFailed };

// Copies count bytes between the files' current positions inside the
// kernel (copy_file_range: no trip through a buffer, extents shared where
// the file system can). kUnsupported, with nothing copied, when the files
// do not allow it; the caller then copies through a buffer.
KernelCopy kernelCopy(i4_unix_file_class* from, i4_unix_file_class* to, i4_pos count) {
    loff_t in = static_cast<loff_t>(from->tell());
    loff_t out = static_cast<loff_t>(to->tell());
    bool first = true;
    while (count > 0) {
        size_t want = static_cast<size_t>(std::min<i4_pos>(count, 1u << 30));
        ssize_t copied = ::copy_file_range(from->descriptor(), &in, to->descriptor(), &out, want, 0);
        if (copied < 0 && errno == EINTR) continue;
        if (copied < 0 && first &&
            (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF)) {
            return KernelCopy::kUnsupported;
        }
        if (copied <= 0) return KernelCopy::kFailed;
        first = false;
        count -= static_cast<i4_pos>(copied);
    }
    from->seek(static_cast<i4_pos>(in));
    to->seek(static_cast<i4_pos>(out));
    return KernelCopy::kDone;
}

// The copy of fs_append_file and fs_move_tail: in the kernel when it can.
bool copyRange(i4_unix_file_class* from, i4_unix_file_class* to, i4_pos count) {
    switch (kernelCopy(from, to, count)) {
        case KernelCopy::kDone:
            return true;
        case KernelCopy::kFailed:
            return false;
        case KernelCopy::kUnsupported:
            break;
    }
    return fs_copy_bytes(from, to, count);
}

}  // namespace

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
    bool ok = to->seek(oldSize) == oldSize && copyRange(from.get(), to.get(), count) && to->sync();
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
    bool ok = from->seek(keep) == keep && copyRange(from.get(), to.get(), n) && to->sync();
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
