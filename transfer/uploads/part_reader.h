// PartReader: what a PartUpload reads of a download's partial file: its
// bytes, its state and its name. PartialFileReader is the real one, over a
// PartialFile it holds a reference on; tests script another.
#pragma once

#include <cstdint>

#include "v4ada/string/owned_string.h"

class PartialFile;

class PartReader {
public:
    // Answers of read.
    static constexpr int kReadDone = 0;
    static constexpr int kFinishing = 1;    // the download is being completed
    static constexpr int kCompleted = 2;    // the finished file is in place
    static constexpr int kFailed = 3;       // cancelled or corrupt
    static constexpr int kUnavailable = 4;  // not all of the range is there
    // States.
    static constexpr int kStateActive = 0;
    static constexpr int kStateFinishing = 1;
    static constexpr int kStateCompleted = 2;
    static constexpr int kStateFailed = 3;

    virtual ~PartReader() = default;
    // Copies [start, end) into buffer; one of the answers above.
    virtual int read(void* buffer, uint64_t start, uint64_t end) = 0;
    // One of the states above.
    virtual int state() = 0;
    virtual OwnedString name() = 0;
};

class PartialFileReader final : public PartReader {
public:
    // Takes a reference on the file (not null).
    explicit PartialFileReader(PartialFile* file);
    // Drops it.
    ~PartialFileReader() override;
    PartialFileReader(const PartialFileReader&) = delete;
    PartialFileReader& operator=(const PartialFileReader&) = delete;

    int read(void* buffer, uint64_t start, uint64_t end) override;
    int state() override;
    OwnedString name() override;

private:
    PartialFile* file_;
};
