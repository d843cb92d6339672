// Shared helpers of the media tests: big-endian and zero bytes beside the
// support builders, streams over bytes, the committed samples and their
// reference values, and a fixture with the importer list.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/bytes.h"
#include "support/process_objects.h"

using support::Bytes;
using support::cat;
using support::le16;
using support::le32;
using support::text;

Bytes be32(uint32_t v);
Bytes zeros(size_t n);

// A read-only stream over a copy of the bytes (fmemopen; a temporary file
// for no bytes, which fmemopen refuses).
class MemStream {
public:
    explicit MemStream(const Bytes& bytes);
    ~MemStream();
    MemStream(const MemStream&) = delete;
    MemStream& operator=(const MemStream&) = delete;
    FILE* get() const { return stream_; }

private:
    Bytes bytes_;
    FILE* stream_;
};

// The path of a committed sample.
std::string samplePath(const std::string& name);
// reference.txt: "<file> <key> <value>" per line, by file and key.
const std::map<std::string, std::string>& sampleReference(const std::string& file);
// A reference value split at '|' (or at ',' for the ffprobe lines).
std::vector<std::string> splitReference(const std::string& value, char separator = '|');

// The process-wide importer list, made and initialised for each test, with
// the special tags it writes.
class ImportTest : public ::testing::Test {
public:
    using Tags = std::map<std::string, std::string>;

protected:
    void SetUp() override;
    // Imports the file at the path as a record of that name: whether the
    // import succeeded, and the tags it added (display name, value text).
    bool importAs(const std::string& path, const std::string& name, Tags* tags);
    Tags tagsOf(const std::string& path, const std::string& name);

    support::ProcessObjects process_{support::ProcessObjects::kSpecialTags | support::ProcessObjects::kImportMaster};
};
