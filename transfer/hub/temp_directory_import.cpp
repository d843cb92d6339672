// TransferHandler::importTempDirectory: partial downloads of another temp
// directory move into this one. A qualifying file name is "<stem>.met"
// whose stem is "<name>.part" (both extensions exact) with the data file
// <stem> beside it; each pair takes a fresh number n: the data file
// becomes "<n>.part" and the record "<n>.part.met" in the temp directory.
// The temp directory itself, however it is spelled ("temp/", a relative
// path, a symlink to it), is never a source: its pairs are the running
// downloads' files, and renaming them would lose those downloads' data.
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "core/meta/meta_messages.h"
#include "downloads/storage/download_services.h"
#include "downloads/storage/temp_name_allocator.h"
#include "transfer/hub/transfer_handler.h"
#include "v4ada/file/fs.h"

namespace {

// The text after the last '.', or null when there is none.
const char* extensionOf(const std::string& name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? nullptr : name.c_str() + dot + 1;
}

std::string stemOf(const std::string& name) { return name.substr(0, name.rfind('.')); }

bool moveReported(const std::string& from, const std::string& to) {
    if (fs_move(from.c_str(), to.c_str()) == 0) return true;
    metaPrintRaw(kCopyFailedText, from.c_str(), to.c_str());
    return false;
}

// True when both paths name the same directory (device and inode).
bool sameDirectory(const char* a, const char* b) {
    struct stat first;
    struct stat second;
    if (!a || !b || fs_stat_raw(a, &first) != 0 || fs_stat_raw(b, &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

void TransferHandler::importTempDirectory(const char* sourceDir, const char* tempDir) {
    DirListing listing;
    if (!sourceDir || !*sourceDir || !fs_list_directory(sourceDir, listing, false)) {
        metaPrintRaw(kNoSuchDirectoryText, sourceDir ? sourceDir : "");
        return;
    }
    if (sameDirectory(sourceDir, tempDir)) return;
    TempNameAllocator* names = downloadServices().tempNames;
    for (const OwnedString& file : listing.files) {
        std::string name = file.c_str() ? file.c_str() : "";
        const char* extension = extensionOf(name);
        if (!extension || strcmp(extension, "met") != 0) continue;
        std::string stem = stemOf(name);
        const char* stemExtension = extensionOf(stem);
        if (!stemExtension || strcmp(stemExtension, "part") != 0) continue;
        std::string source = std::string(sourceDir) + "/";
        FileStatus status;
        if (!fs_status((source + stem).c_str(), status) || status.kind != FileKind::kRegular) continue;

        OwnedString fresh = names ? names->allocate(tempDir) : OwnedString(static_cast<const char*>(nullptr));
        if (fresh.isNull()) {
            metaPrintRaw(kCopyFailedText, (source + stem).c_str(), tempDir ? tempDir : "");
            continue;
        }
        std::string target = std::string(tempDir ? tempDir : "") + "/" + fresh.c_str();
        // A record without its data would make a new, empty download: the
        // pair stays where it is when the data cannot move.
        if (!moveReported(source + stem, target)) continue;
        std::string record = target + ".met";
        fs_remove(record.c_str());
        // Data without its record would be lost to the download: it goes
        // back beside the record it belongs to.
        if (!moveReported(source + name, record)) fs_move(target.c_str(), (source + stem).c_str());
    }
}
