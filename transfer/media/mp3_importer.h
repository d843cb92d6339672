// MP3Importer: audio files of the MPEG family. "mp3" files with a frame
// header get Type, Format, the ID3v1 texts, "length" and "bitrate"; "ogg"
// and "mod" get Type and Format; Shorten ("shn") files also their MD5.
#pragma once

#include "transfer/media/importer.h"

class MP3Importer : public Importer {
public:
    bool import(FileMeta* meta, i4_file* file, const char* extension) override;
};
