#include "transfer/media/extension_importers.h"

namespace {

const char* const kPictures[] = {"gif", "bmp", "png", "jpg", "jpeg", "psd", nullptr};
const char* const kVideos[] = {"rm", "mov", "wmv", "mpeg", "mpg", "asf", "m2v", "vcd", nullptr};
const char* const kPrograms[] = {"exe", "bat", "com", "zip", "rar", "ace", "sit", "iso", "gz", "tar", "bin", nullptr};
const char* const kDocuments[] = {"pdf", "txt", "doc", "rtf", "xls", "html", nullptr};

}  // namespace

bool ExtensionImporter::import(FileMeta* meta, i4_file*, const char* extension) {
    if (!media_extension_in(extension, extensions_)) return false;
    media_set_type(meta, type_);
    media_set_format(meta, extension);
    return true;
}

PictureImporter::PictureImporter() : ExtensionImporter(kMediaTypeImage, kPictures) {}
RMImporter::RMImporter() : ExtensionImporter(kMediaTypeVideo, kVideos) {}
AppImporter::AppImporter() : ExtensionImporter(kMediaTypePro, kPrograms) {}
DocImporter::DocImporter() : ExtensionImporter(kMediaTypeDoc, kDocuments) {}

bool DefaultImporter::import(FileMeta* meta, i4_file*, const char* extension) {
    if (extension != nullptr && extension[0] != 0) media_set_format(meta, extension);
    return true;
}
