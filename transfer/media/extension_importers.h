// Importers that know a family of files by its extension alone: they set
// the family's Type and the extension as Format. DefaultImporter takes
// every file, setting only Format (when there is an extension).
#pragma once

#include "transfer/media/importer.h"

class ExtensionImporter : public Importer {
public:
    bool import(FileMeta* meta, i4_file* file, const char* extension) override;

protected:
    // `extensions` ends with null; both must outlive the importer.
    ExtensionImporter(const char* type, const char* const* extensions)
        : type_(type), extensions_(extensions) {}

private:
    const char* type_;
    const char* const* extensions_;
};

// gif, bmp, png, jpg, jpeg, psd: "Image".
class PictureImporter : public ExtensionImporter {
public:
    PictureImporter();
};

// rm, mov, wmv, mpeg, mpg, asf, m2v, vcd: "Video".
class RMImporter : public ExtensionImporter {
public:
    RMImporter();
};

// exe, bat, com, zip, rar, ace, sit, iso, gz, tar, bin: "Pro".
class AppImporter : public ExtensionImporter {
public:
    AppImporter();
};

// pdf, txt, doc, rtf, xls, html: "Doc".
class DocImporter : public ExtensionImporter {
public:
    DocImporter();
};

class DefaultImporter : public Importer {
public:
    bool import(FileMeta* meta, i4_file* file, const char* extension) override;
};
