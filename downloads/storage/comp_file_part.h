// CompFilePart: a part with a file of its own, "<directory><n>.<i>.part",
// holding the part's bytes at offset 0 (its base is its own start). The
// file is opened through the storage worker's bounded descriptor cache, so
// it stays open between uses without holding a descriptor per part.
#pragma once

#include <memory>
#include <string>

#include "downloads/storage/file_part.h"

class DescriptorCache;

class CompFilePart : public FilePart {
public:
    // expectedTime: the file's modification time at the last save, when
    // the record had one; the part is changed unless the file exists with
    // exactly that time.
    CompFilePart(uint64_t start, uint64_t end, const char* path, const uint32_t* expectedTime,
                 std::shared_ptr<DescriptorCache> cache);
    ~CompFilePart() override;

    bool open() override;
    void remove() override;
    // "%dmod" (index) := the file's modification time, when it exists.
    void saveTags(Meta* record, uint32_t index) override;
    bool close() override;
    FileHandle file(bool create) override;

private:
    std::string path_;
    std::shared_ptr<DescriptorCache> cache_;
};
