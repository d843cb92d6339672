#include "transfer/uploads/part_reader.h"

#include "downloads/storage/partial_file.h"

PartialFileReader::PartialFileReader(PartialFile* file) : file_(file) { file_->addRef(); }

PartialFileReader::~PartialFileReader() { file_->release(); }

int PartialFileReader::read(void* buffer, uint64_t start, uint64_t end) { return file_->read(buffer, start, end); }

int PartialFileReader::state() { return file_->state(); }

OwnedString PartialFileReader::name() { return file_->name(); }

static_assert(PartReader::kReadDone == PartialFile::kReadDone);
static_assert(PartReader::kUnavailable == PartialFile::kReadUnavailable);
static_assert(PartReader::kStateActive == PartialFile::kActive);
static_assert(PartReader::kStateFinishing == PartialFile::kFinishing);
static_assert(PartReader::kStateCompleted == PartialFile::kCompleted);
static_assert(PartReader::kStateFailed == PartialFile::kFailed);
