#include "transfer/media/importer.h"

#include <cstdint>
#include <cstring>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"

void media_set_type(FileMeta* meta, const char* type) { meta->setSpecial(ST_TYPE, type); }

void media_set_format(FileMeta* meta, const char* format) { meta->setSpecial(ST_FORMAT, format); }

void media_set_text(FileMeta* meta, const char* name, const char* text) { meta->set(name, text, kTagString); }

void media_set_text_if_any(FileMeta* meta, const char* name, const char* text) {
    if (text != nullptr && text[0] != 0) media_set_text(meta, name, text);
}

void media_set_int(FileMeta* meta, const char* name, int value) {
    int32_t v = value;
    meta->set(name, &v, kTagInt);
}

bool media_extension_in(const char* extension, const char* const* list) {
    if (extension == nullptr) return false;
    for (; *list != nullptr; list++)
        if (std::strcmp(extension, *list) == 0) return true;
    return false;
}
