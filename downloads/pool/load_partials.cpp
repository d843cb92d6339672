// Resuming the downloads of the temporary directory: the single-file
// records "<n>.part.met" (version 224) beside their data, the directories
// of the part-directory layout with their "<n>.part.met" (version 225),
// and the older flat form of that layout, which is first moved into a
// directory of its own.
//
// A record whose file was left as "<name>.met.bak" by an interrupted save
// of an older version is put back and read. A record of ours that does not
// read is reported and kept aside as "<name>.corrupt", so nothing is saved
// over it; other ".met" files (not named like a record) are only reported.
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/storage/comp_partial_file.h"
#include "downloads/storage/part_met.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/fs_listing.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/file/safe_file.h"

namespace {

constexpr const char* kRecordExtension = "met";
constexpr const char* kBackupSuffix = ".bak";
// Largest record read (a 4 GiB file's hash sets and gaps take a few MiB).
constexpr i4_pos kRecordReadMax = 64ull << 20;

bool endsWith(const std::string& text, const char* suffix) {
    size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// The extension after the last '.' is exactly "met".
bool isRecordName(const std::string& name) {
    size_t dot = name.rfind('.');
    return dot != std::string::npos && name.compare(dot + 1, std::string::npos, kRecordExtension) == 0;
}

// Named as this program names its records: "<n>.part.met", n from 1.
bool isOurRecordName(const std::string& name) {
    return numericPrefix(name.c_str()) != 0 && endsWith(name, ".part.met");
}

// The record names of a listing: every "*.met", and the "*.met" of a lone
// "*.met.bak" (the safe file puts it back when it is read).
std::vector<std::string> recordNames(const DirListing& listing) {
    std::set<std::string> present;
    for (const OwnedString& file : listing.files) present.insert(file.c_str());
    std::vector<std::string> names;
    for (const OwnedString& file : listing.files) {
        std::string name = file.c_str();
        if (isRecordName(name)) {
            names.push_back(name);
        } else if (endsWith(name, kBackupSuffix)) {
            std::string record = name.substr(0, name.size() - std::strlen(kBackupSuffix));
            if (isRecordName(record) && present.count(record) == 0) names.push_back(record);
        }
    }
    return names;
}

// The whole file into memory; false when it cannot be opened.
bool readRecordFile(const char* path, std::vector<uint8_t>& bytes, bool* tooLarge) {
    *tooLarge = false;
    i4_safe_file reader(path, kFsRead);
    i4_file* file = reader.file();
    if (file == nullptr) return false;
    i4_pos size = file->size();
    if (size > kRecordReadMax) {
        *tooLarge = true;
        return true;
    }
    bytes.resize(static_cast<size_t>(size));
    size_t got = 0;
    while (got < bytes.size()) {
        int n = file->read(bytes.data() + got, static_cast<int>(bytes.size() - got));
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    reader.close();
    return true;
}

void reportBadRecord(const char* path, const char* reason, bool ours) {
    UIGateway* ui = currentUI();
    if (!ours) {
        if (ui) ui->printRaw("Not a download record: %s (%s)\n", path, reason);
        return;
    }
    OwnedString kept = fs_keep_aside(path);
    if (ui == nullptr) return;
    if (kept.isNull()) {
        ui->print("Download record %s does not read (%s) and could not be set aside", path, reason);
    } else {
        ui->print("Download record %s does not read (%s); kept as %s", path, reason, kept.c_str());
    }
}

}  // namespace

void DLPool::loadPartials(const char* directory) {
    DirListing listing;
    if (directory == nullptr || !fs_list_directory(directory, listing, false)) {
        if (UIGateway* ui = currentUI()) ui->print("%s: %s", uiString(STRINGS_COULDNT_LOAD_PARTS), directory);
        reschedule();
        return;
    }
    for (const std::string& name : recordNames(listing)) loadRecord(directory, name.c_str(), false);

    // Listed again, into a fresh listing (a listing is appended to): the
    // first pass may have made directories.
    DirListing again;
    if (fs_list_directory(directory, again, false)) {
        for (size_t i = 0; i < again.dirs.size(); i++) {
            const char* sub = again.dirs[i].c_str();
            if (std::strcmp(sub, ".") == 0 || std::strcmp(sub, "..") == 0) continue;
            if (i < again.dirIsLink.size() && again.dirIsLink[i]) continue;
            OwnedString path;
            path.format("%s%c%s", directory, '/', sub);
            DirListing inner;
            if (!fs_list_directory(path.c_str(), inner, false)) continue;
            for (const std::string& name : recordNames(inner)) loadRecord(path.c_str(), name.c_str(), true);
        }
    }
    reschedule();
}

void DLPool::loadRecord(const char* directory, const char* name, bool inSubdirectory) {
    OwnedString path;
    path.format("%s%c%s", directory, '/', name);
    bool ours = isOurRecordName(name);
    bool tooLarge = false;
    std::vector<uint8_t> bytes;
    if (!readRecordFile(path.c_str(), bytes, &tooLarge)) {
        if (UIGateway* ui = currentUI()) ui->printRaw("ERROR: couldn't open %s\n", path.c_str());
        return;
    }
    if (tooLarge || bytes.empty()) {
        reportBadRecord(path.c_str(), tooLarge ? "too large" : "empty", ours);
        return;
    }
    uint8_t version = bytes[0];
    if (version != kPartMetSingleFile && version != kPartMetPartDirectory) {
        // Some other file of that extension; one named as ours is damaged.
        if (ours) reportBadRecord(path.c_str(), "unknown version", ours);
        return;
    }
    if (inSubdirectory && version != kPartMetPartDirectory) return;
    i4_ram_file_class in(bytes.data(), bytes.size(), 0);
    FileMeta record;
    uint8_t read = 0;
    OwnedString reason;
    if (!decodePartMet(&in, &read, record, reason)) {
        reportBadRecord(path.c_str(), reason.isNull() ? "unreadable" : reason.c_str(), ours);
        return;
    }
    if (!inSubdirectory && version == kPartMetPartDirectory) {
        // The flat form: moved into a directory of its own and loaded by
        // the second pass. One that cannot be moved stays as it is.
        if (ours) migrateFlatRecord(directory, name);
        return;
    }
    uint32_t number = 0;
    if (version == kPartMetPartDirectory) {
        number = numericPrefix(name);
        if (number == 0) {
            reportBadRecord(path.c_str(), "no record number", ours);
            return;
        }
    }
    record.setPath(path.c_str());
    if (version == kPartMetSingleFile) {
        std::string base(name, std::strlen(name) - std::strlen(".met"));
        if (!base.empty()) record.setSpecial(ST_TEMP_FILE_NAME, base.c_str());
    }
    startOldDownload(&record, number);
}
