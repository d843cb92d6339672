// FileImporter: what the hashing thread asks to add media tags to the
// record of a newly hashed file (the media importers implement it). False
// means the file could not be imported; the file is then neither shared
// nor known.
#pragma once

class FileMeta;

class FileImporter {
public:
    virtual ~FileImporter() = default;
    virtual bool import(FileMeta* record) = 0;
};
