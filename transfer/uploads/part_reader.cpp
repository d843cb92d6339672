#include "transfer/uploads/part_reader.h"

#include "downloads/storage/partial_file.h"

PartialFileReader::PartialFileReader(PartialFile* file) : file_(file) { file_->addRef(); }

PartialFileReader::~PartialFileReader() { file_->release(); }

int PartialFileReader::read(void* buffer, uint64_t start, uint64_t end) {
    switch (file_->read(buffer, start, end)) {
        case ReadResult::kDone:
            return kReadDone;
        case ReadResult::kFinishing:
            return kFinishing;
        case ReadResult::kCompleted:
            return kCompleted;
        case ReadResult::kFailed:
            return kFailed;
        case ReadResult::kUnavailable:
            break;
    }
    return kUnavailable;
}

int PartialFileReader::state() { return file_->state(); }

OwnedString PartialFileReader::name() { return file_->name(); }

static_assert(PartReader::kStateActive == PartialFile::kActive);
static_assert(PartReader::kStateFinishing == PartialFile::kFinishing);
static_assert(PartReader::kStateCompleted == PartialFile::kCompleted);
static_assert(PartReader::kStateFailed == PartialFile::kFailed);
