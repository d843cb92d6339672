#include "transfer/media/avi_importer.h"

#include "core/meta/file_meta.h"
#include "transfer/media/avi_header.h"

namespace {
const char* const kAviExtensions[] = {"avi", "divx", nullptr};
}

bool AVIImporter::import(FileMeta* meta, i4_file* file, const char* extension) {
    if (!media_extension_in(extension, kAviExtensions)) return false;
    AviHeader header;
    if (!header.read(file)) return false;
    media_set_type(meta, kMediaTypeVideo);
    media_set_format(meta, extension);
    if (header.hasVideo()) media_set_text(meta, kMediaTagCodec, header.codec().c_str());
    std::string length = header.lengthText();
    if (!length.empty()) media_set_text(meta, kMediaTagLength, length.c_str());
    return true;
}
