#include "downloads/storage/comp_partial_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/meta/special_tags.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "downloads/storage/comp_file_part.h"
#include "downloads/storage/download_services.h"
#include "downloads/storage/move_to_incoming.h"
#include "downloads/storage/part_met.h"
#include "downloads/storage/storage_text.h"
#include "downloads/storage/temp_name_allocator.h"
#include "v4ada/file/file_copy.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/fs_listing.h"
#include "v4ada/file/safe_file.h"

namespace {

UIGateway* ui() { return currentUI(); }

// Makes the directory: 0, EEXIST when the name is taken, or another error.
int makeDirectory(const char* path) {
    if (fs_make_dir(path)) return 0;
    return errno == 0 ? EIO : errno;
}

// Parts after the first left joined in the first part's file by a final
// check whose cut-back failed go back into their own files, last first;
// where a cut fails again the rest stays joined for the final check.
void cutBackJoined(const OwnedString& directory, uint32_t number, uint64_t size) {
    auto partPath = [&](uint32_t index) {
        OwnedString path;
        path.format("%S%u.%u.part", &directory, number, index + 1);
        return path;
    };
    auto partEnd = [size](uint32_t index) { return std::min(static_cast<uint64_t>(index + 1) * kPartSize, size); };
    const uint32_t parts = static_cast<uint32_t>((size + kPartSize - 1) / kPartSize);
    OwnedString first = partPath(0);
    FileStatus status;
    if (parts < 2 || !fs_status(first.c_str(), status)) return;
    const uint64_t length = static_cast<uint64_t>(status.size);
    uint32_t joined = 0;
    for (uint32_t p = 1; p < parts && length > partEnd(0); p++) {
        if (length == partEnd(p)) joined = p;
    }
    for (uint32_t r = joined; r >= 1; r--) {
        OwnedString path = partPath(r);
        if (fs_status(path.c_str(), status) || !fs_move_tail(first.c_str(), path.c_str(), partEnd(r) - partEnd(r - 1))) {
            if (UIGateway* out = ui()) {
                out->printRaw("ERROR: %s could not be cut back into parts; parts 1 to %u stay joined in it\n",
                              first.c_str(), r + 1);
            }
            return;
        }
    }
}

}  // namespace

OwnedString partDirectoryName(const char* fileName) {
    std::string name = fileName ? fileName : "";
    if (name.size() > kPartDirectoryNameMax) name.resize(kPartDirectoryNameMax);
    OwnedString safe(name.c_str());
    fs_safe_dot_name(safe);
    if (safe.length() == 0) safe = "_";
    return safe;
}

CompPartialFile::CompPartialFile(PartialFileOwner* owner) : PartialFile(owner) {
    setLayout(kPartMetPartDirectory, 1, OwnedString(), OwnedString());
}

std::string CompPartialFile::partPath(uint32_t index) const {
    OwnedString path;
    path.format("%S%u.%u.part", &directory(), number(), index + 1);
    return path.c_str();
}

OwnedString CompPartialFile::metPath() const {
    OwnedString path;
    path.format("%S%u%s%s", &directory(), number(), kPartExtension, kPartMetExtension);
    return path;
}

bool CompPartialFile::create(FileMeta* record) {
    if (record == nullptr || !storageReady() || !checkSize(record->size())) return false;
    OwnedString temp = downloadServices().settings->tempDir();
    OwnedString name = partDirectoryName(record->name());
    OwnedString candidate;
    candidate.format("%S%c%S%c", &temp, '/', &name, '/');
    int status = makeDirectory(candidate.c_str());
    for (int k = 1; status == EEXIST && k < INT32_MAX; k++) {
        candidate.format("%S%c%S.%d%c", &temp, '/', &name, k, '/');
        status = makeDirectory(candidate.c_str());
    }
    if (status != 0) {
        if (UIGateway* out = ui()) out->printRaw("ERROR: %s: %s\n", candidate.c_str(), std::strerror(status));
        return false;
    }
    setLayout(kPartMetPartDirectory, 1, candidate, OwnedString(""));
    gapList().appendGap(Gap{0, record->size()});
    setMeta(record);
    return true;
}

bool CompPartialFile::load(FileMeta* record, uint32_t number) {
    if (record != nullptr) setLoadedFrom(record->path());
    if (record == nullptr || !storageReady() || !checkSize(record->size())) return false;
    const char* recordPath = record->path().c_str();
    const char* slash = recordPath ? std::strrchr(recordPath, '/') : nullptr;
    if (slash == nullptr) {
        if (UIGateway* out = ui()) out->printRaw("ERROR: record without a directory: %s\n", recordPath ? recordPath : "");
        return false;
    }
    setLayout(kPartMetPartDirectory, number == 0 ? 1 : number,
              OwnedString(std::string(recordPath, static_cast<size_t>(slash - recordPath) + 1).c_str()),
              OwnedString(""));
    takeGapTags(*record, record->size(), gapList());
    uint64_t done = takeBytesDone(*record);
    while (record->findSpecial(ST_TEMP_FILE_NAME)) record->removeSpecial(ST_TEMP_FILE_NAME);
    setMeta(record);
    setBytesDone(static_cast<int64_t>(done));
    return true;
}

void CompPartialFile::beforeLoadChecks() {
    // The record counts the joined parts as there: cut back, none of them
    // is taken for missing and fetched again.
    cutBackJoined(directory(), number(), size());
}

void CompPartialFile::createParts() {
    std::vector<std::unique_ptr<FilePart>> made;
    for (uint32_t i = 0; i < partCount(); i++) {
        uint64_t start = static_cast<uint64_t>(i) * kPartSize;
        uint64_t end = std::min(start + kPartSize, size());
        uint32_t time = 0;
        bool stored = false;
        withMeta([&](FileMeta& meta) { stored = takeModTag(meta, i, &time); });
        made.push_back(
            std::make_unique<CompFilePart>(start, end, partPath(i).c_str(), stored ? &time : nullptr, descriptors()));
    }
    setParts(std::move(made));
}

void CompPartialFile::cancel() {
    setState(kFailed);
    stopSaves();
    if (loadFailedEarly()) {
        removeLoadedRecord();
        return;
    }
    for (uint32_t p = 0; p < partCount(); p++) part(p).remove();
    removeRecord();
    fs_remove_dir(directory().c_str());
    unshare();
}

uint32_t CompPartialFile::joinedParts() {
    FileStatus status;
    if (!fs_status(partPath(0).c_str(), status)) return 0;
    uint64_t length = static_cast<uint64_t>(status.size);
    for (uint32_t p = 1; p < partCount() && length > part(0).length(); p++) {
        if (length == part(p).end()) return p;
    }
    return 0;
}

std::vector<std::pair<uint32_t, uint64_t>> CompPartialFile::shortParts(uint32_t joined) {
    std::vector<std::pair<uint32_t, uint64_t>> found;
    for (uint32_t p = 0; p < partCount(); p++) {
        if (p >= 1 && p <= joined) continue;
        FileStatus status;
        uint64_t have = fs_status(partPath(p).c_str(), status) ? static_cast<uint64_t>(status.size) : 0;
        if (have < part(p).length()) found.emplace_back(p, part(p).start() + have);
    }
    return found;
}

bool CompPartialFile::assemble(const std::string& first, uint32_t joined) {
    if (joined == 0 && !fs_truncate(first.c_str(), part(0).length())) {
        if (UIGateway* out = ui()) out->printRaw("ERROR: %s cannot be cut to its part\n", first.c_str());
        return false;
    }
    for (uint32_t p = joined + 1; p < partCount(); p++) {
        std::string path = partPath(p);
        bool appended = fs_truncate(path.c_str(), part(p).length()) && fs_append_file(first.c_str(), path.c_str());
        if (!appended) {
            if (UIGateway* out = ui()) out->printRaw("Error assembling complete file\n");
            // Only the parts already appended go back, last first. When
            // that fails too, the rest stays joined in the first part's
            // file, and the next try goes on from there.
            splitBack(first, p - 1);
            return false;
        }
        fs_remove(path.c_str());
    }
    // Part files of an earlier try whose bytes were already joined.
    for (uint32_t p = 1; p <= joined; p++) fs_remove(partPath(p).c_str());
    return true;
}

bool CompPartialFile::splitBack(const std::string& first, uint32_t from) {
    for (uint32_t r = from; r >= 1; r--) {
        if (!fs_move_tail(first.c_str(), partPath(r).c_str(), part(r).length())) {
            if (UIGateway* out = ui()) {
                out->printRaw("ERROR: %s could not be cut back into parts; parts 1 to %u stay joined in it\n",
                              first.c_str(), r + 1);
            }
            return false;
        }
    }
    return true;
}

void CompPartialFile::endCorrupted(const std::string& first) {
    OwnedString name = this->name();
    DownloadSettings* settings = downloadServices().settings;
    OwnedString temp = settings->tempDir();
    // Kept under its own name in the temporary directory, where the
    // download's directory (often of that name) is gone by then.
    OwnedString aside;
    bool inPlace = false;
    if (settings->saveCorrupt()) {
        TempNameAllocator* names = downloadServices().tempNames;
        OwnedString free = names ? names->allocate(temp.c_str()) : OwnedString(static_cast<const char*>(nullptr));
        if (!free.isNull()) aside.format("%S%c%S", &temp, '/', &free);
        inPlace = aside.length() == 0 || fs_move(first.c_str(), aside.c_str()) != 0;
        if (inPlace) aside = first.c_str();
    }
    for (uint32_t p = inPlace ? 1 : 0; p < partCount(); p++) part(p).remove();
    removeRecord();
    if (!inPlace) fs_remove_dir(directory().c_str());
    if (aside.length() > 0) {
        OwnedString kept;
        moveToIncoming(aside.c_str(), name.c_str(), temp.c_str(), kept);
        if (inPlace) fs_remove_dir(directory().c_str());
    }
    unshare();
    setState(kFailed);
}

CompleteResult CompPartialFile::complete() {
    const std::string first = partPath(0);
    if (UIGateway* out = ui()) {
        out->debug("File: %s\n", first.c_str());
        out->debug("Target Size: %U\n", size());
    }
    stopSaves();
    close();
    // An earlier try may have left parts joined in the first part's file.
    const uint32_t joined = joinedParts();
    // A part file that is missing or short is missing data, not bad data.
    // The state is active before the results are queued: the owner's tick
    // applies them only to an active file.
    auto missing = shortParts(joined);
    if (!missing.empty()) {
        setState(kActive);
        for (const auto& [part, readableEnd] : missing) reopenPart(part, CheckOutcome::kMissing, readableEnd);
        return CompleteResult::kRefetch;
    }
    // Anything that stops the check from here keeps the data as it is, in
    // its parts where it could be cut back; the download waits to be
    // resumed.
    auto keep = [&](bool cutBack) {
        if (cutBack) splitBack(first, partCount() - 1);
        setState(kActive);
        return CompleteResult::kAssemblyFailed;
    };
    if (!assemble(first, joined)) return keep(false);
    std::vector<Md4Hash> digests;
    if (!finalCheck().digestsOf(first.c_str(), digests)) {
        if (UIGateway* out = ui()) out->printRaw("ERROR: %s cannot be read\n", first.c_str());
        return keep(true);
    }
    bool placed = false;
    if (finalCheck().finish(first.c_str(), digests, &placed)) {
        if (!placed) return keep(true);
        fs_remove_dir(directory().c_str());
        return CompleteResult::kComplete;
    }

    OwnedString name = this->name();
    if (UIGateway* out = ui()) out->print("%s: %s", storageString(STRINGS_CORRUPTED_DOWNLOAD), name.c_str());
    std::vector<uint32_t> bad;
    bool waiting = finalCheck().waitForHashSet();
    if (!waiting && (!finalCheck().badParts(digests, bad) || bad.empty())) {
        // The part hashes name no part: the download ends, and nothing of
        // it is found again at the next start.
        endCorrupted(first);
        return CompleteResult::kCorrupted;
    }
    if (!splitBack(first, partCount() - 1)) return keep(false);
    setState(kActive);
    for (uint32_t p : bad) reopenPart(p, CheckOutcome::kMismatch);
    return CompleteResult::kRefetch;
}

bool migrateFlatRecord(const char* tempDir, const char* recordName, OwnedString* movedRecord) {
    OwnedString recordPath;
    recordPath.format("%s%c%s", tempDir, '/', recordName);
    FileMeta meta;
    uint8_t version = 0;
    OwnedString reason;
    {
        i4_safe_file in(recordPath.c_str(), kFsRead);
        bool read = in.file() != nullptr && decodePartMet(in.file(), &version, meta, reason);
        if (!read || version != kPartMetPartDirectory) {
            if (UIGateway* out = ui()) {
                out->printRaw("ERROR: %s not migrated: %s\n", recordPath.c_str(),
                              read ? "not a flat part-directory record" : reason.c_str());
            }
            return false;
        }
    }
    uint32_t number = numericPrefix(recordName);
    uint32_t parts = meta.partCount();
    OwnedString name = partDirectoryName(meta.name());
    auto partName = [&](uint32_t j) {
        OwnedString text;
        text.format("%u.%u.part", number, j);
        return text;
    };
    // A directory left by an interrupted move: no record, some part files.
    auto unfinished = [&](const OwnedString& directory) {
        OwnedString path;
        path.format("%S%c%s", &directory, '/', recordName);
        FileStatus status;
        if (fs_status(path.c_str(), status)) return false;
        for (uint32_t j = 1; j <= parts; j++) {
            OwnedString part = partName(j);
            path.format("%S%c%S", &directory, '/', &part);
            if (fs_status(path.c_str(), status)) return true;
        }
        return false;
    };
    OwnedString directory;
    directory.format("%s%c%S", tempDir, '/', &name);
    int status = makeDirectory(directory.c_str());
    for (int k = 1; status == EEXIST && !unfinished(directory) && k < INT32_MAX; k++) {
        directory.format("%s%c%S%d", tempDir, '/', &name, k);
        status = makeDirectory(directory.c_str());
    }
    if (status != 0 && status != EEXIST) {
        if (UIGateway* out = ui()) {
            out->printRaw("ERROR: %s not migrated: %s: %s\n", recordPath.c_str(), directory.c_str(),
                          std::strerror(status));
        }
        return false;
    }
    OwnedString from, to;
    for (uint32_t j = 1; j <= parts; j++) {
        OwnedString part = partName(j);
        from.format("%s%c%S", tempDir, '/', &part);
        to.format("%S%c%S", &directory, '/', &part);
        FileStatus there;
        if (!fs_status(from.c_str(), there) || fs_move(from.c_str(), to.c_str()) == 0) continue;
        // The record stays where it is, so the next start finishes the move.
        if (UIGateway* out = ui()) {
            out->printRaw("ERROR: %s not migrated: %s cannot move to %s\n", recordPath.c_str(), from.c_str(),
                          to.c_str());
        }
        return false;
    }
    to.format("%S%c%s", &directory, '/', recordName);
    if (fs_move(recordPath.c_str(), to.c_str()) != 0) {
        if (UIGateway* out = ui()) out->printRaw("ERROR: %s not migrated: the record cannot move\n", recordPath.c_str());
        return false;
    }
    if (movedRecord != nullptr) *movedRecord = to;
    return true;
}
