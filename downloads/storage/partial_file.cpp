#include "downloads/storage/partial_file.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

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
#include "v4ada/file/ram_file.h"
#include "v4ada/file/safe_file.h"
#include "v4ada/file/unix_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

constexpr uint32_t kCrumbsPerPart = kPartSize / kCrumbSize;

UIGateway* ui() { return currentUI(); }

}  // namespace

// What a save writes: the encoded record, and the data files to sync
// first so that the record never claims bytes that are not on the disk.
struct PartialFile::SaveSnapshot {
    std::vector<uint8_t> bytes;
    OwnedString path;
    FileHandle dataFile;
    std::vector<FilePart*> parts;
};

// Effects of results on the range chooser and the partners, made after the
// mutex is released, in order.
struct PartialFile::Events {
    enum Kind { kGot, kReset, kReturn };
    struct Event {
        Kind kind;
        uint32_t crumb;
        Gap range;
    };
    std::vector<Event> progress;
    std::vector<uint32_t> notices;
    // Checks to queue once the mutex is released.
    std::vector<std::unique_ptr<PartCheck>> checks;
    bool verified = false;
    bool partVerified = false;  // a whole part, by its part hash
};

class PartialFile::CheckJob : public StorageJob {
public:
    CheckJob(PartialFile* file, std::unique_ptr<PartCheck> check) : file_(file), check_(std::move(check)) {
        file_->addRef();
    }
    ~CheckJob() override { file_->release(); }
    void run() override {
        runCheck(*check_);
        file_->postResult(std::move(check_));
    }

private:
    PartialFile* file_;
    std::unique_ptr<PartCheck> check_;
};

class PartialFile::SaveJob : public StorageJob {
public:
    explicit SaveJob(PartialFile* file) : file_(file) { file_->addRef(); }
    ~SaveJob() override { file_->release(); }
    void run() override { file_->writePendingSave(); }

private:
    PartialFile* file_;
};

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
    verifiedCrumbs_.resize(crumbCount_);
    verifiedParts_.resize(partCount_);
    pendingCrumb_.assign(crumbCount_, 0);
    pendingPart_.assign(partCount_, 0);
    crumbFailures_.assign(crumbCount_, 0);
    partGeneration_.assign(partCount_, 0);
    dirtyParts_.assign(partCount_, 0);
    pendingChecks_ = 0;
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
    appendGap(Gap{0, record->size()});
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
    takeGapTags(*record, record->size(), *this);
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
    SysMutexGuard guard(&mutex_);
    parts_ = std::move(made);
}

void PartialFile::checkLoadedParts() {
    Events events;
    bool marked = false;
    {
        SysMutexGuard guard(&mutex_);
        if (!hashSetKnown_) return;
        for (uint32_t p = 0; p < partCount_; p++) {
            const FilePart& part = *parts_[p];
            if (part.changed()) continue;
            if (!GapList::overlaps(part.start(), part.end())) {
                verifiedParts_.set(p, true);
                // The chooser took these gap-free crumbs as complete already.
                for (uint32_t c = firstCrumbOf(p); c < endCrumbOf(p); c++) {
                    if (!verifiedCrumbs_.get(c)) events.notices.push_back(c);
                    verifiedCrumbs_.set(c, true);
                }
                marked = true;
                continue;
            }
            for (uint32_t c = firstCrumbOf(p); c < endCrumbOf(p); c++) {
                if (GapList::overlaps(crumbStart(c), crumbEnd(c))) continue;
                verifiedCrumbs_.set(c, true);
                marked = true;
            }
        }
    }
    UploadSide* uploads = downloadServices().uploads;
    UniqueID hash = fileHash();
    for (uint32_t crumb : events.notices) {
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
    return awaitingHashSet_ && !hashSetKnown_;
}

bool PartialFile::crumbHashesComplete() const {
    SysMutexGuard guard(&mutex_);
    return crumbHashesDropped_ || meta_.crumbHashesComplete();
}

bool PartialFile::crumbHashesDropped() const {
    SysMutexGuard guard(&mutex_);
    return crumbHashesDropped_;
}

int PartialFile::pendingChecks() const {
    SysMutexGuard guard(&mutex_);
    return pendingChecks_;
}

void PartialFile::crumbMap(BoolArray& out) const {
    SysMutexGuard guard(&mutex_);
    out.assign(&verifiedCrumbs_);
}

void PartialFile::partMap(BoolArray& out) const {
    SysMutexGuard guard(&mutex_);
    out.assign(&verifiedParts_);
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
    return GapList::isEmpty() && pendingChecks_ == 0 && (hashSetKnown_ || !awaitingHashSet_);
}

bool PartialFile::waitForHashSet() {
    {
        SysMutexGuard guard(&mutex_);
        if (hashSetKnown_) return false;
        awaitingHashSet_ = true;
    }
    OwnedString name = this->name();
    if (UIGateway* out = ui()) out->print("%s: its hash set is asked for, to find the wrong parts", name.c_str());
    return true;
}

bool PartialFile::needsFrom(const BoolArray* map) const {
    SysMutexGuard guard(&mutex_);
    if (map == nullptr || map->count() != verifiedCrumbs_.count()) return false;
    for (uint32_t c = 0; c < crumbCount_; c++) {
        if (map->get(c) && !verifiedCrumbs_.get(c)) return true;
    }
    return false;
}

void PartialFile::gapsIn(uint64_t a, uint64_t b, std::vector<Gap>& out) const { intersections(a, b, out); }

// --- reading and writing -----------------------------------------------------

int PartialFile::read(void* buffer, uint64_t start, uint64_t end) {
    if (start >= end) return kReadUnavailable;
    SysMutexGuard guard(&mutex_);
    int state = this->state();
    if (state != kActive) return state;
    if (end > size_ || end - start > static_cast<uint64_t>(INT32_MAX)) return kReadUnavailable;
    if (GapList::overlaps(start, end)) return kReadUnavailable;
    auto* out = static_cast<uint8_t*>(buffer);
    for (uint64_t at = start; at < end;) {
        uint32_t p = static_cast<uint32_t>(at / kPartSize);
        uint64_t stop = std::min(end, parts_[p]->end());
        if (!parts_[p]->read(out + (at - start), at, static_cast<uint32_t>(stop - at))) return kReadUnavailable;
        at = stop;
    }
    return kReadDone;
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
        bytesDone_ += static_cast<int64_t>(length);
        std::vector<Gap> missing;
        uint32_t first = static_cast<uint32_t>(start / kPartSize);
        uint32_t last = static_cast<uint32_t>((end - 1) / kPartSize);
        for (uint32_t p = first; p <= last; p++) {
            FilePart& part = *parts_[p];
            missing.clear();
            intersections(std::max(start, part.start()), std::min(end, part.end()), missing);
            for (const Gap& piece : missing) {
                if (part.write(bytes + (piece.start - start), piece.start, static_cast<uint32_t>(piece.length()))) {
                    fill(piece.start, piece.end);
                    dirtyParts_[p] = 1;
                } else {
                    failed = true;
                }
            }
            if (!missing.empty()) {
                collectChecks(p, static_cast<uint32_t>(std::max(start, part.start()) / kCrumbSize),
                              static_cast<uint32_t>((std::min(end, part.end()) - 1) / kCrumbSize), jobs);
            }
        }
        result = allPresentLocked() ? WriteResult::kComplete : WriteResult::kMissing;
    }
    submitChecks(jobs);
    return failed ? WriteResult::kWriteFailed : result;
}

// --- checks ----------------------------------------------------------------

bool PartialFile::crumbHashesUsable() const {
    return !crumbHashesDropped_ && crumbCount_ >= 2 && meta_.crumbHashesComplete();
}

void PartialFile::collectChecks(uint32_t p, uint32_t firstCrumb, uint32_t lastCrumb,
                                std::vector<std::unique_ptr<PartCheck>>& jobs) {
    if (!hashSetKnown_ || state() != kActive) return;
    if (verifiedParts_.get(p) || pendingPart_[p]) return;
    FilePart& part = *parts_[p];
    auto check = std::make_unique<PartCheck>();
    check->part = p;
    check->filePart = &part;
    check->start = part.start();
    check->end = part.end();
    check->generation = partGeneration_[p];
    check->crumbGeneration = crumbGeneration_;
    if (!GapList::overlaps(part.start(), part.end())) {
        const uint8_t* expected = meta_.partHash(p);
        if (expected == nullptr) return;
        check->whole = true;
        std::memcpy(check->expected, expected, kMd4DigestSize);
        pendingPart_[p] = 1;
        pendingChecks_++;
        jobs.push_back(std::move(check));
        return;
    }
    if (!crumbHashesUsable()) return;
    lastCrumb = std::min(lastCrumb, endCrumbOf(p) - 1);
    for (uint32_t c = std::max(firstCrumb, firstCrumbOf(p)); c <= lastCrumb; c++) {
        if (verifiedCrumbs_.get(c) || pendingCrumb_[c]) continue;
        if (GapList::overlaps(crumbStart(c), crumbEnd(c))) continue;
        CrumbCheck crumb;
        crumb.index = c;
        crumb.start = crumbStart(c);
        crumb.end = crumbEnd(c);
        crumb.expected = meta_.crumbHash(c);
        check->crumbs.push_back(crumb);
        pendingCrumb_[c] = 1;
        pendingChecks_++;
    }
    if (!check->crumbs.empty()) jobs.push_back(std::move(check));
}

void PartialFile::collectAllChecks(std::vector<std::unique_ptr<PartCheck>>& jobs) {
    for (uint32_t p = 0; p < partCount_; p++) collectChecks(p, firstCrumbOf(p), endCrumbOf(p) - 1, jobs);
}

void PartialFile::submitChecks(std::vector<std::unique_ptr<PartCheck>>& jobs) {
    for (auto& check : jobs) {
        auto job = std::make_unique<CheckJob>(this, std::move(check));
        if (worker_ != nullptr) {
            worker_->submit(std::move(job));
        } else {
            job->run();
        }
    }
    jobs.clear();
}

void PartialFile::postResult(std::unique_ptr<PartCheck> check) {
    SysMutexGuard guard(&resultsMutex_);
    results_.push_back(std::move(check));
}

bool PartialFile::verify() {
    beforeLoadChecks();
    std::vector<std::unique_ptr<PartCheck>> jobs;
    {
        SysMutexGuard guard(&mutex_);
        collectAllChecks(jobs);
    }
    size_t unreadable = 0;
    size_t ran = 0;
    for (auto& check : jobs) {
        runCheck(*check);
        if (check->whole) {
            ran++;
            unreadable += check->outcome == CheckOutcome::kUnreadable;
        }
        for (const CrumbCheck& crumb : check->crumbs) {
            ran++;
            unreadable += crumb.outcome == CheckOutcome::kUnreadable;
        }
        postResult(std::move(check));
    }
    return ran == 0 || unreadable < ran;
}

bool PartialFile::applyResults() {
    std::vector<std::unique_ptr<PartCheck>> results;
    {
        SysMutexGuard guard(&resultsMutex_);
        results.swap(results_);
    }
    if (results.empty()) return false;
    Events events;
    UniqueID hash;
    {
        SysMutexGuard guard(&mutex_);
        for (const auto& check : results) {
            if (check->whole) {
                pendingPart_[check->part] = 0;
                pendingChecks_--;
                applyPart(*check, events);
            }
            for (const CrumbCheck& crumb : check->crumbs) {
                pendingCrumb_[crumb.index] = 0;
                pendingChecks_--;
                applyCrumb(*check, crumb, events);
            }
        }
        hash = meta_.fileHash();
    }
    DLProgress* progress = owner_ ? owner_->progress() : nullptr;
    for (const auto& event : events.progress) {
        if (progress == nullptr) break;
        if (event.kind == Events::kGot) progress->gotCrumb(event.crumb);
        if (event.kind == Events::kReset) progress->resetCrumb(event.crumb);
        if (event.kind == Events::kReturn) progress->returnRange(event.range.start, event.range.end);
    }
    if (UploadSide* uploads = downloadServices().uploads) {
        for (uint32_t crumb : events.notices) uploads->sendHaveNotice(hash, crumb);
    }
    submitChecks(events.checks);
    if (events.verified) share();
    if (events.partVerified) partVerified_ = true;
    return true;
}

void PartialFile::applyPart(const PartCheck& check, Events& events) {
    const uint32_t p = check.part;
    if (state() != kActive || verifiedParts_.get(p)) return;
    // Data changed since the check was queued: its answer says nothing.
    if (check.generation != partGeneration_[p] || GapList::overlaps(check.start, check.end)) return;
    switch (check.outcome) {
        case CheckOutcome::kMatch:
            verifiedParts_.set(p, true);
            for (uint32_t c = firstCrumbOf(p); c < endCrumbOf(p); c++) {
                if (!verifiedCrumbs_.get(c)) events.notices.push_back(c);
                verifiedCrumbs_.set(c, true);
                events.progress.push_back({Events::kGot, c, {}});
            }
            events.verified = true;
            events.partVerified = true;
            break;
        case CheckOutcome::kMismatch:
            for (uint32_t c = firstCrumbOf(p); c < endCrumbOf(p); c++) {
                verifiedCrumbs_.set(c, false);
                events.progress.push_back({Events::kReset, c, {}});
            }
            markCorruptLocked(check.start, check.end);
            break;
        case CheckOutcome::kMissing:
            markMissingLocked(std::max(check.start, check.readableEnd), check.end, events);
            break;
        case CheckOutcome::kUnreadable:
            // Left unverified for a later try: an I/O error is no verdict.
            if (UIGateway* out = ui()) {
                out->printRaw("Error validating part: %s (%U-%U)\n", meta_.name(), check.start, check.end);
            }
            break;
    }
}

void PartialFile::applyCrumb(const PartCheck& check, const CrumbCheck& crumb, Events& events) {
    const uint32_t c = crumb.index;
    if (state() != kActive || verifiedCrumbs_.get(c)) return;
    if (GapList::overlaps(crumb.start, crumb.end)) return;
    switch (crumb.outcome) {
        case CheckOutcome::kMatch:
            verifiedCrumbs_.set(c, true);
            events.notices.push_back(c);
            events.progress.push_back({Events::kGot, c, {}});
            events.verified = true;
            break;
        case CheckOutcome::kMismatch:
            // Crumb hashes dropped meanwhile: the part check decides.
            if (check.crumbGeneration != crumbGeneration_) break;
            if (++crumbFailures_[c] >= 2) {
                dropCrumbHashesLocked(c, events);
                break;
            }
            markCorruptLocked(crumb.start, crumb.end);
            events.progress.push_back({Events::kReset, c, {}});
            break;
        case CheckOutcome::kMissing:
            markMissingLocked(std::max(crumb.start, crumb.readableEnd), crumb.end, events);
            break;
        case CheckOutcome::kUnreadable:
            if (UIGateway* out = ui()) {
                out->printRaw("Error validating crumb: %s (%U-%U)\n", meta_.name(), crumb.start, crumb.end);
            }
            break;
    }
}

void PartialFile::markCorruptLocked(uint64_t a, uint64_t b) {
    bytesDone_ -= static_cast<int64_t>(b - a);
    if (UIGateway* out = ui()) {
        out->print("%s %s %s %U-%U", storageString(STRINGS_CORRUPTION_FOUND), meta_.name(), storageString(STRINGS_AT),
                   a, b);
    }
    addGap(a, b);
    for (uint32_t p = static_cast<uint32_t>(a / kPartSize); p <= (b - 1) / kPartSize; p++) {
        verifiedParts_.set(p, false);
        partGeneration_[p]++;
    }
}

void PartialFile::markMissingLocked(uint64_t a, uint64_t b, Events& events) {
    if (a >= b) return;
    bytesDone_ -= static_cast<int64_t>(b - a);
    if (UIGateway* out = ui()) out->print("Data missing in %s at %U-%U", meta_.name(), a, b);
    addGap(a, b);
    for (uint32_t c = static_cast<uint32_t>(a / kCrumbSize); c <= (b - 1) / kCrumbSize; c++) {
        bool wasVerified = verifiedCrumbs_.get(c);
        verifiedCrumbs_.set(c, false);
        // A crumb that was complete is offered whole again; otherwise only
        // the bytes now missing are.
        if (wasVerified) {
            events.progress.push_back({Events::kReset, c, {}});
        } else {
            events.progress.push_back(
                {Events::kReturn, c, {std::max(a, crumbStart(c)), std::min(b, crumbEnd(c))}});
        }
    }
    for (uint32_t p = static_cast<uint32_t>(a / kPartSize); p <= (b - 1) / kPartSize; p++) {
        verifiedParts_.set(p, false);
        partGeneration_[p]++;
    }
}

void PartialFile::dropCrumbHashesLocked(uint32_t crumb, Events& events) {
    meta_.dropCrumbHashes();
    crumbHashesDropped_ = true;
    crumbGeneration_++;
    if (UIGateway* out = ui()) {
        out->printRaw("Crumb hashes of %s dropped: crumb %u failed twice, whole parts are checked\n", meta_.name(),
                      crumb);
    }
    // Complete parts that waited for crumb checks are checked whole.
    collectAllChecks(events.checks);
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
        bool haveCrumbs = crumbCount_ >= 2 && meta_.crumbHashesComplete();
        if (crumbHashesDropped_ || haveCrumbs) scratch.dropCrumbHashes();
        meta_.copyFrom(&scratch);
        hashSetKnown_ = meta_.partHashesComplete();
        known = hashSetKnown_;
        if (known) collectAllChecks(jobs);
    }
    submitChecks(jobs);
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

bool PartialFile::partTrusted(uint32_t p) const {
    if (!hashSetKnown_ || verifiedParts_.get(p)) return true;
    const FilePart& part = *parts_[p];
    if (pendingPart_[p] || !GapList::overlaps(part.start(), part.end())) return false;
    for (uint32_t c = firstCrumbOf(p); c < endCrumbOf(p); c++) {
        if (verifiedCrumbs_.get(c)) continue;
        if (pendingCrumb_[c] || !GapList::overlaps(crumbStart(c), crumbEnd(c))) return false;
    }
    return true;
}

std::unique_ptr<PartialFile::SaveSnapshot> PartialFile::buildSnapshot() {
    if (state() != kActive) return nullptr;
    auto snapshot = std::make_unique<SaveSnapshot>();
    FileMeta copy;
    std::vector<Gap> gaps;
    std::vector<uint8_t> trusted(partCount_, 0);
    int64_t done;
    {
        SysMutexGuard guard(&mutex_);
        copy.copyFrom(&meta_);
        for (uint32_t p = 0; p < partCount_; p++) {
            trusted[p] = partTrusted(p);
            if (!dirtyParts_[p]) continue;
            dirtyParts_[p] = 0;
            if (dataFile_) {
                snapshot->dataFile = dataFile_;
            } else {
                snapshot->parts.push_back(parts_[p].get());
            }
        }
        gaps = GapList::gaps();
        done = bytesDone_;
    }
    snapshot->path = metPath();
    uint32_t time = 0;
    if (version_ == kPartMetSingleFile) {
        FileStatus status;
        if (fs_status(path().c_str(), status)) time = static_cast<uint32_t>(status.modified);
    }
    copy.setModificationTime(time);
    int32_t value = static_cast<int32_t>(static_cast<uint32_t>(done));
    copy.setSpecial(ST_PART_TRANS, &value);
    copy.setSpecial(ST_TEMP_FILE_NAME, dataFileName_.c_str());
    value = owner_ ? owner_->priority() : 0;
    copy.setSpecial(ST_DOWNLOAD_PRIORITY, &value);
    value = owner_ && owner_->isPaused() ? 1 : 0;
    copy.setSpecial(ST_STATE, &value);
    for (uint32_t p = 0; p < partCount_; p++) {
        if (trusted[p]) parts_[p]->saveTags(&copy, p);
    }
    setGapTags(copy, gaps);
    i4_ram_file_class out(nullptr, 0, 64 * 1024);
    bool encoded = encodePartMet(version_, copy, &out);
    if (encoded) snapshot->bytes.assign(out.data(), out.data() + out.size());
    i4_free(out.data());
    if (!encoded) return nullptr;
    return snapshot;
}

void PartialFile::syncDirty(std::vector<FilePart*>& files) {
    for (FilePart* part : files) {
        if (FileHandle handle = part->file(false)) handle->syncData();
    }
}

bool PartialFile::writePendingSave() {
    SysMutexGuard writer(&saveWriteMutex_);
    std::unique_ptr<SaveSnapshot> snapshot;
    {
        SysMutexGuard guard(&pendingSaveMutex_);
        snapshot = std::move(pendingSave_);
    }
    if (!snapshot) return true;
    if (state() != kActive) return false;
    bool synced = !snapshot->dataFile || snapshot->dataFile->syncData();
    for (FilePart* part : snapshot->parts) {
        FileHandle handle = part->file(false);
        if (handle && !handle->syncData()) synced = false;
    }
    bool ok = false;
    if (synced) {
        i4_safe_file out(snapshot->path.c_str(), kFsWrite | kFsTruncate);
        int length = static_cast<int>(snapshot->bytes.size());
        ok = out.file() != nullptr && out.file()->write(snapshot->bytes.data(), length) == length;
        ok = out.close() && ok;
    } else {
        // The data may not be on the disk: sync it again at the next save.
        SysMutexGuard guard(&mutex_);
        if (snapshot->dataFile) dirtyParts_.assign(partCount_, 1);
        for (FilePart* part : snapshot->parts) dirtyParts_[part->start() / kPartSize] = 1;
    }
    if (!ok) {
        if (UIGateway* out = ui()) out->printRaw("ERROR: partial info not saved: %s\n", snapshot->path.c_str());
    }
    return ok;
}

bool PartialFile::save(bool wait) {
    std::unique_ptr<SaveSnapshot> snapshot = buildSnapshot();
    if (!snapshot) return false;
    {
        SysMutexGuard guard(&pendingSaveMutex_);
        pendingSave_ = std::move(snapshot);  // replaces one not yet written
    }
    if (wait || worker_ == nullptr || worker_->threadCount() == 0) return writePendingSave();
    worker_->submit(std::make_unique<SaveJob>(this));
    return true;
}

void PartialFile::stopSaves() {
    SysMutexGuard writer(&saveWriteMutex_);
    SysMutexGuard guard(&pendingSaveMutex_);
    pendingSave_.reset();
}

void PartialFile::removeRecord() { removeRecordAt(metPath()); }

void PartialFile::removeRecordAt(const OwnedString& record) {
    if (record.length() == 0) return;
    OwnedString other;
    fs_remove(record.c_str());
    other.format("%S.bak", &record);
    fs_remove(other.c_str());
    other.format("%S.tmp", &record);
    fs_remove(other.c_str());
}

// --- closing, cancelling, completing ---------------------------------------------

void PartialFile::close() {
    FileHandle data;
    std::vector<FilePart*> dirty;
    {
        SysMutexGuard guard(&mutex_);
        for (uint32_t p = 0; p < partCount_; p++) {
            if (!dirtyParts_[p]) continue;
            dirtyParts_[p] = 0;
            if (dataFile_) {
                data = dataFile_;
            } else {
                dirty.push_back(parts_[p].get());
            }
        }
    }
    if (data) data->syncData();
    syncDirty(dirty);
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

void PartialFile::fileHashOf(const std::vector<Md4Hash>& digests, uint8_t* out) {
    if (digests.size() == 1) {
        std::memcpy(out, digests[0].bytes(), kMd4DigestSize);
        return;
    }
    Md4Context md4;
    for (const Md4Hash& digest : digests) md4.update(digest.bytes(), kMd4DigestSize);
    md4.final(out);
}

bool PartialFile::digestsOf(const char* dataPath, std::vector<Md4Hash>& digests) {
    // The whole file as one part of the single-file layout.
    FileHandle file(fs_open_unix(dataPath, kFsRead));
    if (!file) return false;
    FilePart whole(0, 0, size_, dataPath, true);
    whole.attach(file);
    digests.assign(partCount_, Md4Hash());
    // The parts are independent: a few threads take them in turn (positioned
    // reads of the one descriptor), so a large file's check is not one
    // core's hashing speed. Each part's digest goes to its own slot.
    std::atomic<uint32_t> next{0};
    std::atomic<bool> unreadable{false};
    auto hashParts = [&] {
        for (uint32_t p = next.fetch_add(1); p < partCount_ && !unreadable.load(); p = next.fetch_add(1)) {
            uint64_t start = static_cast<uint64_t>(p) * kPartSize;
            uint64_t end = std::min(start + kPartSize, size_);
            uint64_t readable = 0;
            CheckOutcome outcome = whole.digest(start, end, digests[p].bytes(), &readable);
            if (outcome == CheckOutcome::kUnreadable) unreadable.store(true);
            // A short file: what is missing cannot match, the digest stays zero.
            if (outcome == CheckOutcome::kMissing) digests[p] = Md4Hash();
        }
    };
    std::vector<std::thread> helpers;
    const uint32_t threads = std::min<uint32_t>(static_cast<uint32_t>(StorageWorker::defaultThreadCount()), partCount_);
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

bool PartialFile::finish(const char* dataPath, const std::vector<Md4Hash>& digests, bool* placedOut) {
    uint8_t found[kMd4DigestSize];
    fileHashOf(digests, found);
    if (!fileHash().equals(found)) return false;
    OwnedString name = this->name();
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
    share();
    FileStatus status;
    uint32_t time = fs_status(finalPath.c_str(), status) ? static_cast<uint32_t>(status.modified) : 0;
    SharedFilesSink* sink = downloadServices().sharedFiles;
    if (sink == nullptr || !sink->finalPlace(fileHash(), finalPath.c_str(), time)) {
        if (UIGateway* out = ui()) out->printRaw("ERROR: File not added to shared?\n");
    }
    setState(kCompleted);
    removeRecord();
    return true;
}

bool PartialFile::badParts(const std::vector<Md4Hash>& digests, std::vector<uint32_t>& bad) {
    SysMutexGuard guard(&mutex_);
    if (!hashSetKnown_) return false;
    for (uint32_t p = 0; p < partCount_ && p < digests.size(); p++) {
        const uint8_t* expected = meta_.partHash(p);
        if (expected == nullptr) return false;
        if (!digests[p].equals(expected)) bad.push_back(p);
    }
    return true;
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
    if (!digestsOf(data.c_str(), digests)) {
        // Unreadable now: nothing is judged or removed; try again later.
        if (UIGateway* out = ui()) out->printRaw("ERROR: %s cannot be read\n", data.c_str());
        keep();
        return CompleteResult::kAssemblyFailed;
    }
    bool placed = false;
    if (finish(data.c_str(), digests, &placed)) {
        if (placed) return CompleteResult::kComplete;
        keep();
        return CompleteResult::kAssemblyFailed;
    }

    OwnedString name = this->name();
    if (UIGateway* out = ui()) out->print("%s: %s", storageString(STRINGS_CORRUPTED_DOWNLOAD), name.c_str());
    if (waitForHashSet()) {
        keep();
        return CompleteResult::kRefetch;
    }
    std::vector<uint32_t> bad;
    if (badParts(digests, bad) && !bad.empty()) {
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

void PartialFile::reopenPart(uint32_t p, CheckOutcome why, uint64_t readableEnd) {
    auto check = std::make_unique<PartCheck>();
    {
        SysMutexGuard guard(&mutex_);
        verifiedParts_.set(p, false);
        for (uint32_t c = firstCrumbOf(p); c < endCrumbOf(p); c++) verifiedCrumbs_.set(c, false);
        if (!pendingPart_[p]) {
            pendingPart_[p] = 1;
            pendingChecks_++;
        }
        check->part = p;
        check->filePart = parts_[p].get();
        check->whole = true;
        check->start = parts_[p]->start();
        check->end = parts_[p]->end();
        check->generation = partGeneration_[p];
        check->outcome = why;
        check->readableEnd = readableEnd;
    }
    postResult(std::move(check));
}
