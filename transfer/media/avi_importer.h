// AVIImporter: "avi" and "divx" files whose header list walks cleanly get
// Type "Video", Format, the video "codec" and the play "length".
#pragma once

#include "transfer/media/importer.h"

class AVIImporter : public Importer {
public:
    bool import(FileMeta* meta, i4_file* file, const char* extension) override;
};
