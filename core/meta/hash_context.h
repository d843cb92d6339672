// HashContext: the state of hashing one local file crumb by crumb
// (FileMeta::hashStep). It owns the open file.
#pragma once

#include <cstdint>
#include <memory>

#include "v4ada/digest/md4.h"
#include "v4ada/file/file.h"

class HashContext {
public:
    HashContext() = default;
    ~HashContext();
    HashContext(const HashContext&) = delete;
    HashContext& operator=(const HashContext&) = delete;

    // Takes the file over (closing any held before).
    void start(i4_file* file, uint32_t size, uint32_t partCount, uint32_t crumbCount);
    void close();

    i4_file* file = nullptr;
    uint32_t size = 0;
    uint32_t position = 0;
    uint32_t partCount = 0;
    uint32_t crumbCount = 0;
    uint32_t nextPart = 0;
    uint32_t nextCrumb = 0;
    bool started = false;  // the part context has been initialised
    bool finished = false;
    // The current part, or the whole file when it has fewer than two parts.
    Md4Context part;
    // The read buffer of hashStep (kHashBlockSize bytes), made on first use.
    std::unique_ptr<uint8_t[]> block;
};
