#include "downloads/storage/part_check.h"

#include <cstring>

#include "downloads/storage/file_part.h"

void runCheck(PartCheck& check) {
    if (check.filePart == nullptr) return;
    if (check.whole) {
        check.outcome = check.filePart->digest(check.start, check.end, check.digest, &check.readableEnd);
        if (check.outcome == CheckOutcome::kMatch && std::memcmp(check.digest, check.expected, kMd4DigestSize) != 0) {
            check.outcome = CheckOutcome::kMismatch;
        }
        return;
    }
    for (CrumbCheck& crumb : check.crumbs) {
        uint8_t digest[kMd4DigestSize];
        crumb.outcome = check.filePart->digest(crumb.start, crumb.end, digest, &crumb.readableEnd);
        if (crumb.outcome != CheckOutcome::kMatch) continue;
        uint64_t found = 0;
        for (int k = 7; k >= 0; k--) found = (found << 8) | digest[k];
        if (found != crumb.expected) crumb.outcome = CheckOutcome::kMismatch;
    }
}
