#include "downloads/storage/part_check.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "downloads/storage/file_part.h"
#include "v4ada/file/unix_file.h"

namespace {

constexpr int kReadBlock = 1 << 20;

}  // namespace

CheckOutcome digestRange(FilePart& part, uint64_t start, uint64_t end, uint8_t* digest, uint64_t* readableEnd) {
    *readableEnd = start;
    errno = 0;
    FileHandle file = part.file(false);
    if (!file) return errno == ENOENT ? CheckOutcome::kMissing : CheckOutcome::kUnreadable;
    std::unique_ptr<uint8_t[]> block(new uint8_t[kReadBlock]);
    Md4Context md4;
    uint64_t at = start;
    while (at < end) {
        int want = static_cast<int>(std::min<uint64_t>(end - at, kReadBlock));
        int got = file->readAt(block.get(), want, at - part.base());
        if (got < 0) return CheckOutcome::kUnreadable;
        if (got == 0) {
            *readableEnd = at;
            return CheckOutcome::kMissing;
        }
        md4.update(block.get(), static_cast<size_t>(got));
        at += static_cast<uint64_t>(got);
    }
    *readableEnd = end;
    md4.final(digest);
    return CheckOutcome::kMatch;
}

void runCheck(PartCheck& check) {
    if (check.filePart == nullptr) return;
    if (check.whole) {
        check.outcome = digestRange(*check.filePart, check.start, check.end, check.digest, &check.readableEnd);
        if (check.outcome == CheckOutcome::kMatch && std::memcmp(check.digest, check.expected, kMd4DigestSize) != 0) {
            check.outcome = CheckOutcome::kMismatch;
        }
        return;
    }
    for (CrumbCheck& crumb : check.crumbs) {
        uint8_t digest[kMd4DigestSize];
        crumb.outcome = digestRange(*check.filePart, crumb.start, crumb.end, digest, &crumb.readableEnd);
        if (crumb.outcome != CheckOutcome::kMatch) continue;
        uint64_t found = 0;
        for (int k = 7; k >= 0; k--) found = (found << 8) | digest[k];
        if (found != crumb.expected) crumb.outcome = CheckOutcome::kMismatch;
    }
}
