// PartCheck: the digest check of one part, or of some crumbs of it, made
// off the task thread. Each range is read once (pread, in large blocks)
// and its MD4 compared with the expected digest captured when the check
// was queued. The outcome goes back to the partial file, which applies it
// on the task thread.
#pragma once

#include <cstdint>
#include <vector>

#include "v4ada/digest/md4.h"

class FilePart;

enum class CheckOutcome : uint8_t {
    kMatch,
    kMismatch,
    // Reading failed (an I/O error): nothing can be said about the data.
    kUnreadable,
    // The file is missing or shorter than the range: from readableEnd on
    // the bytes are not there.
    kMissing,
};

struct CrumbCheck {
    uint32_t index = 0;
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t expected = 0;  // first 8 digest bytes, little-endian
    CheckOutcome outcome = CheckOutcome::kUnreadable;
    uint64_t readableEnd = 0;
};

struct PartCheck {
    uint32_t part = 0;
    FilePart* filePart = nullptr;  // lives as long as its partial file
    // The whole part's digest; otherwise the crumbs below.
    bool whole = false;
    uint64_t start = 0;
    uint64_t end = 0;
    uint8_t expected[kMd4DigestSize] = {};
    CheckOutcome outcome = CheckOutcome::kUnreadable;
    uint8_t digest[kMd4DigestSize] = {};
    uint64_t readableEnd = 0;
    // The part's and the crumb hashes' generations when queued: a result
    // from before a change of either is stale.
    uint32_t generation = 0;
    uint32_t crumbGeneration = 0;
    std::vector<CrumbCheck> crumbs;
};

// Reads and digests what the check names, filling in the outcomes.
void runCheck(PartCheck& check);
