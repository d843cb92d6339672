// ImportMaster: adds media tags to the record of a newly hashed file by
// handing it to an ordered list of importers; the first that handles the
// file ends the search.
//
// One process-wide object, created and destroyed explicitly
// (createInstance / destroyInstance); the transfer hub's start calls init,
// and the hashing thread, the only user, calls import for each new file.
#pragma once

#include <memory>
#include <vector>

#include "transfer/media/importer.h"
#include "transfer/sharing/file_importer.h"

class FileMeta;

class ImportMaster : public FileImporter {
public:
    ImportMaster() = default;
    ~ImportMaster() override = default;
    ImportMaster(const ImportMaster&) = delete;
    ImportMaster& operator=(const ImportMaster&) = delete;

    // Null before createInstance and after destroyInstance.
    static ImportMaster* instance();
    // Keeps an existing instance.
    static void createInstance();
    // Deletes the instance with its importers.
    static void destroyInstance();

    // Appends MP3, AVI, picture, RealMedia-family video, program, document,
    // FLAC and default importers, in that order (once: a filled list stays).
    void init();
    // Opens the file at the record's path and offers it, from position 0,
    // to each importer in order by the lower-cased extension of the
    // record's name. False (and no tags) when the file cannot be opened.
    bool import(FileMeta* meta) override;

    int importerCount() const { return static_cast<int>(importers_.size()); }
    // Takes the importer over (tests and init).
    void append(Importer* importer) { importers_.emplace_back(importer); }

private:
    std::vector<std::unique_ptr<Importer>> importers_;
};
