// Shared helpers of the media tests: byte builders, streams over bytes,
// a scratch directory, the committed samples and their reference values.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

Bytes be32(uint32_t v);
Bytes le16(uint16_t v);
Bytes le32(uint32_t v);
Bytes text(const std::string& s);
Bytes zeros(size_t n);
Bytes cat(std::initializer_list<Bytes> pieces);

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

// A directory removed with its content.
class MediaScratch {
public:
    MediaScratch();
    ~MediaScratch();
    MediaScratch(const MediaScratch&) = delete;
    MediaScratch& operator=(const MediaScratch&) = delete;
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeBytes(const std::string& path, const Bytes& bytes);
Bytes readBytes(const std::string& path);

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
    void TearDown() override;
    // Imports the file at the path as a record of that name: whether the
    // import succeeded, and the tags it added (display name, value text).
    bool importAs(const std::string& path, const std::string& name, Tags* tags);
    Tags tagsOf(const std::string& path, const std::string& name);
};
