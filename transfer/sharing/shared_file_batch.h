// SharedFileBatch: the data of MSG_ADD_SHARED_FILES: records the hashing
// thread found in the shared directories, to be shared in order. The
// transfer hub takes the batch over; one from a hashing run that a newer
// directory list has replaced is dropped, since its directories may no
// longer be shared.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/meta/file_meta.h"

struct SharedFileBatch {
    uint64_t run = 0;  // the hashing run that found the records
    std::vector<std::unique_ptr<FileMeta>> records;
};
