// FlacImporter: "flac" files get Type and Format, then either the texts of
// an ID3v1 tag at the end or the stream information and comments of the
// FLAC metadata ("Warning:" when those cannot be read). Always handles a
// "flac" file.
#pragma once

#include "transfer/media/id3v1_tag.h"
#include "transfer/media/importer.h"
#include "transfer/media/vorbis_tag.h"

// FLAC comments longer than this (name or value, terminator included)
// are skipped.
constexpr int kFlacCommentBuffer = 256;

class FlacImporter : public Importer {
public:
    bool import(FileMeta* meta, i4_file* file, const char* extension) override;

private:
    void addFlacTags(FileMeta* meta);

    Id3v1Tag id3_;
    VorbisTag vorbis_;
};
