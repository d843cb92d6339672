#include "downloads/storage/final_check.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

#include "core/ui/ui_gateway.h"
#include "downloads/storage/download_services.h"
#include "downloads/storage/file_part.h"
#include "downloads/storage/move_to_incoming.h"
#include "downloads/storage/partial_file.h"
#include "downloads/storage/storage_worker.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/unix_file.h"

namespace {

UIGateway* ui() { return currentUI(); }

}  // namespace

bool FinalCheck::waitForHashSet() {
    {
        SysMutexGuard guard(&mutex_);
        file_.sameLock(mutex_);
        if (file_.hashSetKnown_) return false;
        awaitingHashSet_ = true;
    }
    OwnedString name = file_.name();
    if (UIGateway* out = ui()) out->print("%s: its hash set is asked for, to find the wrong parts", name.c_str());
    return true;
}

void FinalCheck::fileHashOf(const std::vector<Md4Hash>& digests, uint8_t* out) {
    if (digests.size() == 1) {
        std::memcpy(out, digests[0].bytes(), kMd4DigestSize);
        return;
    }
    Md4Context md4;
    for (const Md4Hash& digest : digests) md4.update(digest.bytes(), kMd4DigestSize);
    md4.final(out);
}

bool FinalCheck::digestsOf(const char* dataPath, std::vector<Md4Hash>& digests) {
    // The whole file as one part of the single-file layout.
    FileHandle file(fs_open_unix(dataPath, kFsRead));
    if (!file) return false;
    const uint64_t size = file_.size();
    const uint32_t partCount = file_.partCount();
    FilePart whole(0, 0, size, dataPath, true);
    whole.attach(file);
    digests.assign(partCount, Md4Hash());
    // The parts are independent: a few threads take them in turn (positioned
    // reads of the one descriptor), so a large file's check is not one
    // core's hashing speed. Each part's digest goes to its own slot.
    std::atomic<uint32_t> next{0};
    std::atomic<bool> unreadable{false};
    auto hashParts = [&] {
        for (uint32_t p = next.fetch_add(1); p < partCount && !unreadable.load(); p = next.fetch_add(1)) {
            uint64_t start = static_cast<uint64_t>(p) * kPartSize;
            uint64_t end = std::min(start + kPartSize, size);
            uint64_t readable = 0;
            CheckOutcome outcome = whole.digest(start, end, digests[p].bytes(), &readable);
            if (outcome == CheckOutcome::kUnreadable) unreadable.store(true);
            // A short file: what is missing cannot match, the digest stays zero.
            if (outcome == CheckOutcome::kMissing) digests[p] = Md4Hash();
        }
    };
    std::vector<std::thread> helpers;
    const uint32_t threads = std::min<uint32_t>(static_cast<uint32_t>(StorageWorker::defaultThreadCount()), partCount);
    for (uint32_t i = 1; i < threads; i++) {
        try {
            helpers.emplace_back(hashParts);
        } catch (const std::system_error&) {
            break;  // the threads started (or this one alone) do it all
        }
    }
    hashParts();
    for (std::thread& helper : helpers) helper.join();
    return !unreadable.load();
}

bool FinalCheck::finish(const char* dataPath, const std::vector<Md4Hash>& digests, bool* placedOut) {
    uint8_t found[kMd4DigestSize];
    fileHashOf(digests, found);
    if (!file_.fileHash().equals(found)) return false;
    OwnedString name = file_.name();
    DownloadSettings* settings = downloadServices().settings;
    OwnedString finalPath;
    bool placed = moveToIncoming(dataPath, name.c_str(), settings->incomingDir().c_str(), finalPath);
    if (!placed) {
        // Kept in the temporary directory under its own name instead.
        placed = moveToIncoming(dataPath, name.c_str(), settings->tempDir().c_str(), finalPath);
        if (placed) {
            if (UIGateway* out = ui()) out->print("%s: kept at %s", name.c_str(), finalPath.c_str());
        }
    }
    *placedOut = placed;
    // A file that is nowhere but in the download's own place is neither
    // shared nor complete: the caller keeps the download.
    if (!placed) return true;
    file_.share();
    FileStatus status;
    uint32_t time = fs_status(finalPath.c_str(), status) ? static_cast<uint32_t>(status.modified) : 0;
    SharedFilesSink* sink = downloadServices().sharedFiles;
    if (sink == nullptr || !sink->finalPlace(file_.fileHash(), finalPath.c_str(), time)) {
        if (UIGateway* out = ui()) out->printRaw("ERROR: File not added to shared?\n");
    }
    file_.setState(PartialFile::kCompleted);
    file_.removeRecord();
    return true;
}

bool FinalCheck::badParts(const std::vector<Md4Hash>& digests, std::vector<uint32_t>& bad) {
    SysMutexGuard guard(&mutex_);
    file_.sameLock(mutex_);
    if (!file_.hashSetKnown_) return false;
    for (uint32_t p = 0; p < file_.partCount_ && p < digests.size(); p++) {
        const uint8_t* expected = file_.meta_.partHash(p);
        if (expected == nullptr) return false;
        if (!digests[p].equals(expected)) bad.push_back(p);
    }
    return true;
}
