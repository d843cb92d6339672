#include "downloads/storage/partial_file.h"

#include <algorithm>
#include <cstring>

#include "core/bus/message_q.h"
#include "core/meta/read_limits.h"
#include "core/meta/special_tags.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "downloads/storage/download_services.h"
#include "downloads/storage/move_to_incoming.h"
#include "downloads/storage/part_met.h"
#include "downloads/storage/partial_file_owner.h"
#include "downloads/storage/storage_text.h"
#include "downloads/storage/storage_worker.h"
#include "downloads/storage/temp_name_allocator.h"
#include "v4ada/digest/hash_input.h"
#include "v4ada/error/error.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/unix_file.h"

namespace {

constexpr uint32_t kCrumbsPerPart = kPartSize / kCrumbSize;

UIGateway* ui() { return currentUI(); }

}  // namespace

PartialFile::PartialFile(PartialFileOwner* owner) : owner_(owner), worker_(downloadServices().storage) {}

PartialFile::~PartialFile() {
    dataFile_.reset();
    parts_.clear();
}

// --- set-up ----------------------------------------------------------------

bool PartialFile::storageReady() {
    if (worker_ != nullptr && downloadServices().settings != nullptr) return true;
    if (UIGateway* out = ui()) out->printRaw("ERROR: download storage not started\n");
    return false;
}

std::shared_ptr<DescriptorCache> PartialFile::descriptors() {
    return worker_ ? worker_->descriptors() : nullptr;
}

bool PartialFile::checkSize(uint64_t size) {
    if (size > 0 && size <= kLargestHashableSize) return true;
    if (UIGateway* out = ui()) out->printRaw("ERROR: %U bytes cannot be downloaded\n", size);
    return false;
}

void PartialFile::setSizeFields(uint64_t size) {
    size_ = size;
    partCount_ = partCountOf(size);
    crumbCount_ = crumbCountOf(size);
    checks_.sameLock(mutex_);
    saver_.sameLock(mutex_);
    checks_.resizeLocked(partCount_, crumbCount_);
    saver_.resizeLocked(partCount_);
}

bool PartialFile::create(FileMeta* record) {
    if (record == nullptr || !storageReady() || !checkSize(record->size())) return false;
    TempNameAllocator* names = downloadServices().tempNames;
    OwnedString temp = downloadServices().settings->tempDir();
    OwnedString name = names ? names->allocate(temp.c_str()) : OwnedString(static_cast<const char*>(nullptr));
    if (name.isNull()) return false;
    version_ = kPartMetSingleFile;
    dataFileName_ = name;
    number_ = numericPrefix(name.c_str());
    directory_.format("%s%c", temp.c_str(), '/');
    gaps_.appendGap(Gap{0, record->size()});
    setMeta(record);
    FileHandle file(fs_open_unix(path().c_str(), kFsRead | kFsWrite | kFsTruncate));
    if (!file) return false;
    SysMutexGuard guard(&mutex_);
    dataFile_ = file;
    for (auto& part : parts_) part->attach(file);
    return true;
}

bool PartialFile::load(FileMeta* record, uint32_t) {
    if (record != nullptr) loadedFrom_ = record->path();
    if (record == nullptr || !storageReady() || !checkSize(record->size())) return false;
    version_ = kPartMetSingleFile;
    takeGapTags(*record, record->size(), gaps_);
    const char* stored = record->textOf(specialCodeName(ST_TEMP_FILE_NAME));
    OwnedString name(stored && stored[0] ? stored : record->name());
    if (!isPlainFileName(name.c_str())) {
        if (UIGateway* out = ui()) out->printRaw("ERROR: record names no plain data file: %s\n", name.c_str());
        return false;
    }
    dataFileName_ = name;
    number_ = numericPrefix(name.c_str());
    while (record->findSpecial(ST_TEMP_FILE_NAME)) record->removeSpecial(ST_TEMP_FILE_NAME);
    uint64_t done = takeBytesDone(*record);
    OwnedString directory, base, extension;
    if (record->path().length() > 0 && std::strchr(record->path().c_str(), '/') != nullptr) {
        fs_path_parts(record->path().c_str(), directory, base, extension);
    } else {
        directory = downloadServices().settings->tempDir();
    }
    directory_.format("%s%c", directory.c_str(), '/');
    setMeta(record);

    OwnedString data = path();
    FileStatus status;
    if (!fs_status(data.c_str(), status)) {
        if (UIGateway* out = ui()) {
            out->print("%s %s", data.c_str(), storageKeyText(kNotFoundKey, kNotFoundDefault).c_str());
        }
        return false;
    }
    FileHandle file(fs_open_unix(data.c_str(), kFsRead | kFsWrite));
    if (!file) {
        if (UIGateway* out = ui()) {
            out->print("%s %s", data.c_str(), storageKeyText(kCouldntOpenKey, kCouldntOpenDefault).c_str());
        }
        return false;
    }
    SysMutexGuard guard(&mutex_);
    bytesDone_ = static_cast<int64_t>(done);
    dataFile_ = file;
    for (auto& part : parts_) part->attach(file);
    return true;
}

void PartialFile::setMeta(FileMeta* record) {
    {
        SysMutexGuard guard(&mutex_);
        meta_.copyFrom(record);
        OwnedString full = path();
        meta_.setPath(full.c_str());
        setSizeFields(record->size());
        hashSetKnown_ = meta_.partHashesComplete();
    }
    createParts();
    if (owner_ != nullptr && owner_->progress() != nullptr) owner_->progress()->init(this);
    checkLoadedParts();
}

void PartialFile::createParts() {
    std::vector<std::unique_ptr<FilePart>> made;
    OwnedString name;
    for (uint32_t i = 0; i < partCount_; i++) {
        uint64_t start = static_cast<uint64_t>(i) * kPartSize;
        uint64_t end = std::min(start + kPartSize, size_);
        // That name is no file of this layout: every part is checked anew.
        name.format("%S%u.%u.part", &directory_, number_, i + 1);
        made.push_back(std::make_unique<FilePart>(0, start, end, name.c_str(), true));
    }
    setParts(std::move(made));
}

void PartialFile::setParts(std::vector<std::unique_ptr<FilePart>> parts) {
    SysMutexGuard guard(&mutex_);
    parts_ = std::move(parts);
}

void PartialFile::setLayout(uint8_t version, uint32_t number, const OwnedString& directory,
                            const OwnedString& dataFileName) {
    version_ = version;
    number_ = number;
    directory_ = directory;
    dataFileName_ = dataFileName;
}

void PartialFile::setBytesDone(int64_t done) {
    SysMutexGuard guard(&mutex_);
    bytesDone_ = done;
}

void PartialFile::checkLoadedParts() {
    std::vector<uint32_t> notices;
    bool marked;
    {
        SysMutexGuard guard(&mutex_);
        if (!hashSetKnown_) return;
        checks_.sameLock(mutex_);
        marked = checks_.trustUnchangedLocked(notices);
    }
    UploadSide* uploads = downloadServices().uploads;
    UniqueID hash = fileHash();
    for (uint32_t crumb : notices) {
        if (uploads) uploads->sendHaveNotice(hash, crumb);
    }
    if (marked) share();
}

// --- geometry and queries ----------------------------------------------------

uint64_t PartialFile::crumbEnd(uint32_t crumb) const { return std::min(crumbStart(crumb) + kCrumbSize, size_); }

uint32_t PartialFile::endCrumbOf(uint32_t part) const {
    return std::min(firstCrumbOf(part) + kCrumbsPerPart, crumbCount_);
}

OwnedString PartialFile::metPath() const {
    OwnedString out;
    out.format("%S%S%s", &directory_, &dataFileName_, kPartMetExtension);
    return out;
}

OwnedString PartialFile::partDirectory() const { return directory_; }

OwnedString PartialFile::path() const {
    OwnedString out;
    out.format("%S%S", &directory_, &dataFileName_);
    return out;
}

OwnedString PartialFile::name() const {
    SysMutexGuard guard(&mutex_);
    return OwnedString(const_cast<FileMeta&>(meta_).name());
}

UniqueID PartialFile::fileHash() const {
    SysMutexGuard guard(&mutex_);
    return meta_.fileHash();
}

int64_t PartialFile::bytesDone() const {
    SysMutexGuard guard(&mutex_);
    return bytesDone_;
}

bool PartialFile::hashSetKnown() const {
    SysMutexGuard guard(&mutex_);
    return hashSetKnown_;
}

bool PartialFile::awaitingHashSet() const {
    SysMutexGuard guard(&mutex_);
    final_.sameLock(mutex_);
    return final_.awaitingLocked() && !hashSetKnown_;
}

bool PartialFile::crumbHashesComplete() const {
    SysMutexGuard guard(&mutex_);
    checks_.sameLock(mutex_);
    return checks_.crumbHashesDroppedLocked() || meta_.crumbHashesComplete();
}

bool PartialFile::crumbHashesDropped() const {
    SysMutexGuard guard(&mutex_);
    checks_.sameLock(mutex_);
    return checks_.crumbHashesDroppedLocked();
}

int PartialFile::pendingChecks() const {
    SysMutexGuard guard(&mutex_);
    checks_.sameLock(mutex_);
    return checks_.pendingLocked();
}

void PartialFile::crumbMap(BoolArray& out) const {
    SysMutexGuard guard(&mutex_);
    checks_.sameLock(mutex_);
    out.assign(&checks_.crumbsLocked());
}

void PartialFile::partMap(BoolArray& out) const {
    SysMutexGuard guard(&mutex_);
    checks_.sameLock(mutex_);
    out.assign(&checks_.partsLocked());
}

void PartialFile::withMeta(const std::function<void(FileMeta&)>& fn) {
    SysMutexGuard guard(&mutex_);
    fn(meta_);
}

bool PartialFile::nothingMissing() const {
    SysMutexGuard guard(&mutex_);
    return allPresentLocked();
}

bool PartialFile::allPresentLocked() const {
    checks_.sameLock(mutex_);
    final_.sameLock(mutex_);
    return gaps_.isEmpty() && checks_.pendingLocked() == 0 && (hashSetKnown_ || !final_.awaitingLocked());
}

bool PartialFile::needsFrom(const BoolArray* map) const {
    SysMutexGuard guard(&mutex_);
    checks_.sameLock(mutex_);
    return checks_.needsFromLocked(map);
}

void PartialFile::gapsIn(uint64_t a, uint64_t b, std::vector<Gap>& out) const { gaps_.intersections(a, b, out); }

// --- reading and writing -----------------------------------------------------

ReadResult PartialFile::read(void* buffer, uint64_t start, uint64_t end) {
    if (start >= end) return ReadResult::kUnavailable;
    SysMutexGuard guard(&mutex_);
    switch (state()) {
        case kActive:
            break;
        case kFinishing:
            return ReadResult::kFinishing;
        case kCompleted:
            return ReadResult::kCompleted;
        default:
            return ReadResult::kFailed;
    }
    if (end > size_ || end - start > static_cast<uint64_t>(INT32_MAX)) return ReadResult::kUnavailable;
    if (gaps_.overlaps(start, end)) return ReadResult::kUnavailable;
    auto* out = static_cast<uint8_t*>(buffer);
    for (uint64_t at = start; at < end;) {
        uint32_t p = static_cast<uint32_t>(at / kPartSize);
        uint64_t stop = std::min(end, parts_[p]->end());
        if (!parts_[p]->read(out + (at - start), at, static_cast<uint32_t>(stop - at))) return ReadResult::kUnavailable;
        at = stop;
    }
    return ReadResult::kDone;
}

WriteResult PartialFile::write(i4_file* reader, uint64_t start, uint64_t end) {
    if (state() != kActive) return WriteResult::kMissing;
    if (reader == nullptr || start >= end || end > size_) return WriteResult::kBadInput;
    const uint64_t length = end - start;
    // A received piece is far smaller; the bound keeps every count an int.
    if (length > static_cast<uint64_t>(INT32_MAX) || bytesLeft(reader) < length) return WriteResult::kBadInput;
    const uint8_t* bytes;
    std::unique_ptr<uint8_t[]> copy;
    i4_pos at = reader->tell();
    if (reader->inMemory()) {
        bytes = static_cast<const uint8_t*>(reader->bufferAt(at));
        reader->seek(at + length);
    } else {
        copy.reset(new uint8_t[length]);
        if (!readFully(reader, copy.get(), static_cast<int>(length))) return WriteResult::kBadInput;
        bytes = copy.get();
    }

    bool failed = false;
    std::vector<std::unique_ptr<PartCheck>> jobs;
    WriteResult result;
    {
        SysMutexGuard guard(&mutex_);
        if (state() != kActive) return WriteResult::kMissing;
        checks_.sameLock(mutex_);
        saver_.sameLock(mutex_);
        bytesDone_ += static_cast<int64_t>(length);
        std::vector<Gap> missing;
        uint32_t first = static_cast<uint32_t>(start / kPartSize);
        uint32_t last = static_cast<uint32_t>((end - 1) / kPartSize);
        for (uint32_t p = first; p <= last; p++) {
            FilePart& part = *parts_[p];
            missing.clear();
            gaps_.intersections(std::max(start, part.start()), std::min(end, part.end()), missing);
            for (const Gap& piece : missing) {
                if (part.write(bytes + (piece.start - start), piece.start, static_cast<uint32_t>(piece.length()))) {
                    gaps_.fill(piece.start, piece.end);
                    saver_.markWrittenLocked(p);
                } else {
                    failed = true;
                }
            }
            if (!missing.empty()) {
                checks_.collectLocked(p, static_cast<uint32_t>(std::max(start, part.start()) / kCrumbSize),
                              static_cast<uint32_t>((std::min(end, part.end()) - 1) / kCrumbSize), jobs);
            }
        }
        result = allPresentLocked() ? WriteResult::kComplete : WriteResult::kMissing;
    }
    checks_.submit(jobs);
    return failed ? WriteResult::kWriteFailed : result;
}

// --- checks ----------------------------------------------------------------

bool PartialFile::verify() {
    beforeLoadChecks();
    return checks_.verify();
}

bool PartialFile::applyResults() { return checks_.apply(); }

bool PartialFile::takePartVerified() { return checks_.takePartVerified(); }

void PartialFile::reopenPart(uint32_t p, CheckOutcome why, uint64_t readableEnd) {
    checks_.reopenPart(p, why, readableEnd);
}

// --- hash sets -----------------------------------------------------------------

bool PartialFile::readHashSet(i4_file* reader, bool withCrumbs) {
    if (reader == nullptr) return false;
    FileMeta scratch;
    {
        SysMutexGuard guard(&mutex_);
        scratch.copyFrom(&meta_);
    }
    bool ok;
    try {
        ok = withCrumbs ? scratch.readHashSets(reader) : scratch.readLegacyParts(reader);
    } catch (const i4_err&) {
        ok = false;
    }
    if (!ok) return false;
    std::vector<std::unique_ptr<PartCheck>> jobs;
    bool known;
    {
        SysMutexGuard guard(&mutex_);
        checks_.sameLock(mutex_);
        if (checks_.keepsCrumbHashesLocked()) scratch.dropCrumbHashes();
        meta_.copyFrom(&scratch);
        hashSetKnown_ = meta_.partHashesComplete();
        known = hashSetKnown_;
        if (known) checks_.collectAllLocked(jobs);
    }
    checks_.submit(jobs);
    return known;
}

bool PartialFile::setHashSetWithCrumbs(i4_file* reader) { return readHashSet(reader, true); }

bool PartialFile::setHashSet(i4_file* reader) {
    if (hashSetKnown()) return true;
    return readHashSet(reader, false);
}

// --- sharing -----------------------------------------------------------------

void PartialFile::share() {
    auto copy = std::make_unique<FileMeta>();
    {
        SysMutexGuard guard(&mutex_);
        if (sharedRecord_) return;
        sharedRecord_ = std::make_unique<FileMeta>();
        sharedRecord_->copyFrom(&meta_);
        sharedRecord_->setPath("");
        copy->copyFrom(sharedRecord_.get());
    }
    if (SharedFilesSink* sink = downloadServices().sharedFiles) sink->addSharedFile(copy.release());
    if (messageQ != nullptr) messageQ->post(MSG_SHARES_UPDATED, nullptr);
}

void PartialFile::setUploadPriority(int32_t priority) {
    SysMutexGuard guard(&mutex_);
    meta_.setSpecial(ST_UPLOAD_PRIORITY, &priority);
    if (sharedRecord_) sharedRecord_->setSpecial(ST_UPLOAD_PRIORITY, &priority);
}

void PartialFile::reshare() {
    auto copy = std::make_unique<FileMeta>();
    {
        SysMutexGuard guard(&mutex_);
        if (!sharedRecord_) return;
        copy->copyFrom(sharedRecord_.get());
    }
    if (SharedFilesSink* sink = downloadServices().sharedFiles) sink->addSharedFile(copy.release());
}

// --- records -------------------------------------------------------------------

bool PartialFile::save(bool wait) { return saver_.save(wait); }

void PartialFile::stopSaves() { saver_.stop(); }

void PartialFile::removeRecord() { removeRecordAt(metPath()); }

void PartialFile::removeRecordAt(const OwnedString& record) { RecordSaver::removeAt(record); }

// --- closing, cancelling, completing ---------------------------------------------

void PartialFile::close() {
    FileHandle data;
    std::vector<FilePart*> dirty;
    {
        SysMutexGuard guard(&mutex_);
        saver_.sameLock(mutex_);
        saver_.takeWrittenLocked(data, dirty);
    }
    if (data) data->syncData();
    for (FilePart* part : dirty) {
        if (FileHandle handle = part->file(false)) handle->syncData();
    }
    SysMutexGuard guard(&mutex_);
    dataFile_.reset();
    for (auto& part : parts_) {
        part->attach(nullptr);
        part->close();
    }
}

void PartialFile::cancel() {
    setState(kFailed);
    stopSaves();
    if (loadFailedEarly()) {
        removeRecordAt(loadedFrom_);
        return;
    }
    {
        SysMutexGuard guard(&mutex_);
        dataFile_.reset();
        for (auto& part : parts_) part->attach(nullptr);
    }
    fs_remove(path().c_str());
    removeRecord();
    unshare();
}

void PartialFile::unshare() {
    std::unique_ptr<FileMeta> shared;
    {
        SysMutexGuard guard(&mutex_);
        shared = std::move(sharedRecord_);
    }
    if (!shared) return;
    if (SharedFilesSink* sink = downloadServices().sharedFiles) sink->removeSharedFile(*shared);
}

CompleteResult PartialFile::complete() {
    OwnedString data = path();
    FileStatus status;
    bool present = fs_status(data.c_str(), status);
    if (UIGateway* out = ui()) {
        out->debug("File: %s\n", data.c_str());
        out->debug("Target Size: %U\n", size_);
        out->debug("File Size: %U\n", present ? static_cast<uint64_t>(status.size) : 0ull);
    }
    stopSaves();
    close();
    // The data file is opened again for a download that goes on.
    auto keep = [&] {
        FileHandle file(fs_open_unix(data.c_str(), kFsRead | kFsWrite));
        SysMutexGuard guard(&mutex_);
        dataFile_ = file;
        for (auto& part : parts_) part->attach(file);
        setState(kActive);
    };
    std::vector<Md4Hash> digests;
    if (!final_.digestsOf(data.c_str(), digests)) {
        // Unreadable now: nothing is judged or removed; try again later.
        if (UIGateway* out = ui()) out->printRaw("ERROR: %s cannot be read\n", data.c_str());
        keep();
        return CompleteResult::kAssemblyFailed;
    }
    bool placed = false;
    if (final_.finish(data.c_str(), digests, &placed)) {
        if (placed) return CompleteResult::kComplete;
        keep();
        return CompleteResult::kAssemblyFailed;
    }

    OwnedString name = this->name();
    if (UIGateway* out = ui()) out->print("%s: %s", storageString(STRINGS_CORRUPTED_DOWNLOAD), name.c_str());
    if (final_.waitForHashSet()) {
        keep();
        return CompleteResult::kRefetch;
    }
    std::vector<uint32_t> bad;
    if (final_.badParts(digests, bad) && !bad.empty()) {
        // The parts that differ are fetched again; the rest stays.
        keep();
        for (uint32_t p : bad) reopenPart(p, CheckOutcome::kMismatch);
        return CompleteResult::kRefetch;
    }
    unshare();
    DownloadSettings* settings = downloadServices().settings;
    if (settings->saveCorrupt()) {
        OwnedString kept;
        moveToIncoming(data.c_str(), name.c_str(), settings->tempDir().c_str(), kept);
    } else {
        fs_remove(data.c_str());
    }
    removeRecord();
    setState(kFailed);
    return CompleteResult::kCorrupted;
}
