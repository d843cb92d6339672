#include "transfer/media/import_master.h"

#include <memory>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "transfer/media/avi_importer.h"
#include "transfer/media/extension_importers.h"
#include "transfer/media/flac_importer.h"
#include "transfer/media/mp3_importer.h"
#include "v4ada/error/error.h"
#include "v4ada/file/fs.h"
#include "v4ada/string/owned_string.h"

namespace {
ImportMaster* gImportMaster = nullptr;
}

ImportMaster* ImportMaster::instance() { return gImportMaster; }

void ImportMaster::createInstance() {
    if (gImportMaster == nullptr) gImportMaster = new ImportMaster();
}

void ImportMaster::destroyInstance() {
    delete gImportMaster;
    gImportMaster = nullptr;
}

void ImportMaster::init() {
    if (!importers_.empty()) return;
    append(new MP3Importer());
    append(new AVIImporter());
    append(new PictureImporter());
    append(new RMImporter());
    append(new AppImporter());
    append(new DocImporter());
    append(new FlacImporter());
    append(new DefaultImporter());
}

bool ImportMaster::import(FileMeta* meta) {
    if (meta == nullptr) return false;
    std::unique_ptr<i4_file> file(fs_open_regular(meta->path().c_str()));
    if (!file) return false;

    const char* name = static_cast<const char*>(meta->specialValueOf(ST_NAME));
    OwnedString directory, base, extension("");
    fs_path_parts(name != nullptr ? name : "", directory, base, extension);
    extension.toLower();
    const char* ext = extension.c_str() != nullptr ? extension.c_str() : "";

    for (const std::unique_ptr<Importer>& importer : importers_) {
        try {
            file->seek(0);
            if (importer->import(meta, file.get(), ext)) break;
        } catch (const i4_err&) {
            // A reading problem only means this importer passes the file on.
        }
    }
    return true;
}
