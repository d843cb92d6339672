#include "downloads/storage/check_results.h"

#include <algorithm>
#include <cstring>

#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "downloads/storage/download_services.h"
#include "downloads/storage/partial_file.h"
#include "downloads/storage/partial_file_owner.h"
#include "downloads/storage/storage_text.h"
#include "downloads/storage/storage_worker.h"

namespace {

UIGateway* ui() { return currentUI(); }

}  // namespace

// Effects of results on the range chooser and the partners, made after the
// file's mutex is released, in order.
struct CheckResults::Events {
    enum Kind { kGot, kReset, kReturn };
    struct Event {
        Kind kind;
        uint32_t crumb;
        Gap range;
    };
    std::vector<Event> progress;
    std::vector<uint32_t> notices;
    // Checks to queue once the mutex is released.
    Checks checks;
    bool verified = false;
    bool partVerified = false;  // a whole part, by its part hash
};

class CheckResults::Job : public StorageJob {
public:
    Job(CheckResults* results, std::unique_ptr<PartCheck> check) : results_(results), check_(std::move(check)) {
        results_->file_.addRef();
    }
    ~Job() override { results_->file_.release(); }
    void run() override {
        runCheck(*check_);
        results_->post(std::move(check_));
    }

private:
    CheckResults* results_;
    std::unique_ptr<PartCheck> check_;
};

void CheckResults::resizeLocked(uint32_t partCount, uint32_t crumbCount) {
    verifiedCrumbs_.resize(crumbCount);
    verifiedParts_.resize(partCount);
    pendingCrumb_.assign(crumbCount, 0);
    pendingPart_.assign(partCount, 0);
    crumbFailures_.assign(crumbCount, 0);
    partGeneration_.assign(partCount, 0);
    pending_ = 0;
}

bool CheckResults::trustUnchangedLocked(std::vector<uint32_t>& notices) {
    PartialFile& f = file_;
    bool marked = false;
    for (uint32_t p = 0; p < f.partCount_; p++) {
        const FilePart& part = *f.parts_[p];
        if (part.changed()) continue;
        if (!f.gaps_.overlaps(part.start(), part.end())) {
            verifiedParts_.set(p, true);
            // The chooser took these gap-free crumbs as complete already.
            for (uint32_t c = f.firstCrumbOf(p); c < f.endCrumbOf(p); c++) {
                if (!verifiedCrumbs_.get(c)) notices.push_back(c);
                verifiedCrumbs_.set(c, true);
            }
            marked = true;
            continue;
        }
        for (uint32_t c = f.firstCrumbOf(p); c < f.endCrumbOf(p); c++) {
            if (f.gaps_.overlaps(f.crumbStart(c), f.crumbEnd(c))) continue;
            verifiedCrumbs_.set(c, true);
            marked = true;
        }
    }
    return marked;
}

bool CheckResults::needsFromLocked(const BoolArray* map) const {
    if (map == nullptr || map->count() != verifiedCrumbs_.count()) return false;
    for (uint32_t c = 0; c < file_.crumbCount_; c++) {
        if (map->get(c) && !verifiedCrumbs_.get(c)) return true;
    }
    return false;
}

bool CheckResults::crumbHashesUsableLocked() const {
    file_.sameLock(mutex_);
    return !crumbHashesDropped_ && file_.crumbCount_ >= 2 && file_.meta_.crumbHashesComplete();
}

bool CheckResults::keepsCrumbHashesLocked() const {
    file_.sameLock(mutex_);
    return crumbHashesDropped_ || (file_.crumbCount_ >= 2 && file_.meta_.crumbHashesComplete());
}

void CheckResults::collectLocked(uint32_t p, uint32_t firstCrumb, uint32_t lastCrumb, Checks& jobs) {
    PartialFile& f = file_;
    f.sameLock(mutex_);
    if (!f.hashSetKnown_ || f.state() != PartialFile::kActive) return;
    if (verifiedParts_.get(p) || pendingPart_[p]) return;
    FilePart& part = *f.parts_[p];
    auto check = std::make_unique<PartCheck>();
    check->part = p;
    check->filePart = &part;
    check->start = part.start();
    check->end = part.end();
    check->generation = partGeneration_[p];
    check->crumbGeneration = crumbGeneration_;
    if (!f.gaps_.overlaps(part.start(), part.end())) {
        const uint8_t* expected = f.meta_.partHash(p);
        if (expected == nullptr) return;
        check->whole = true;
        std::memcpy(check->expected, expected, kMd4DigestSize);
        pendingPart_[p] = 1;
        pending_++;
        jobs.push_back(std::move(check));
        return;
    }
    if (!crumbHashesUsableLocked()) return;
    lastCrumb = std::min(lastCrumb, f.endCrumbOf(p) - 1);
    for (uint32_t c = std::max(firstCrumb, f.firstCrumbOf(p)); c <= lastCrumb; c++) {
        if (verifiedCrumbs_.get(c) || pendingCrumb_[c]) continue;
        if (f.gaps_.overlaps(f.crumbStart(c), f.crumbEnd(c))) continue;
        CrumbCheck crumb;
        crumb.index = c;
        crumb.start = f.crumbStart(c);
        crumb.end = f.crumbEnd(c);
        crumb.expected = f.meta_.crumbHash(c);
        check->crumbs.push_back(crumb);
        pendingCrumb_[c] = 1;
        pending_++;
    }
    if (!check->crumbs.empty()) jobs.push_back(std::move(check));
}

void CheckResults::collectAllLocked(Checks& jobs) {
    for (uint32_t p = 0; p < file_.partCount_; p++) {
        collectLocked(p, file_.firstCrumbOf(p), file_.endCrumbOf(p) - 1, jobs);
    }
}

void CheckResults::submit(Checks& jobs) {
    for (auto& check : jobs) {
        auto job = std::make_unique<Job>(this, std::move(check));
        if (file_.worker_ != nullptr) {
            file_.worker_->submit(std::move(job));
        } else {
            job->run();
        }
    }
    jobs.clear();
}

void CheckResults::post(std::unique_ptr<PartCheck> check) {
    SysMutexGuard guard(&resultsMutex_);
    results_.push_back(std::move(check));
}

bool CheckResults::verify() {
    Checks jobs;
    {
        SysMutexGuard guard(&mutex_);
        collectAllLocked(jobs);
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
        post(std::move(check));
    }
    return ran == 0 || unreadable < ran;
}

bool CheckResults::apply() {
    Checks results;
    {
        SysMutexGuard guard(&resultsMutex_);
        results.swap(results_);
    }
    if (results.empty()) return false;
    Events events;
    UniqueID hash;
    {
        SysMutexGuard guard(&mutex_);
        file_.sameLock(mutex_);
        for (const auto& check : results) {
            if (check->whole) {
                pendingPart_[check->part] = 0;
                pending_--;
                applyPart(*check, events);
            }
            for (const CrumbCheck& crumb : check->crumbs) {
                pendingCrumb_[crumb.index] = 0;
                pending_--;
                applyCrumb(*check, crumb, events);
            }
        }
        hash = file_.meta_.fileHash();
    }
    DLProgress* progress = file_.owner_ ? file_.owner_->progress() : nullptr;
    for (const auto& event : events.progress) {
        if (progress == nullptr) break;
        if (event.kind == Events::kGot) progress->gotCrumb(event.crumb);
        if (event.kind == Events::kReset) progress->resetCrumb(event.crumb);
        if (event.kind == Events::kReturn) progress->returnRange(event.range.start, event.range.end);
    }
    if (UploadSide* uploads = downloadServices().uploads) {
        for (uint32_t crumb : events.notices) uploads->sendHaveNotice(hash, crumb);
    }
    submit(events.checks);
    if (events.verified) file_.share();
    if (events.partVerified) partVerified_ = true;
    return true;
}

void CheckResults::applyPart(const PartCheck& check, Events& events) {
    PartialFile& f = file_;
    f.sameLock(mutex_);
    const uint32_t p = check.part;
    if (f.state() != PartialFile::kActive || verifiedParts_.get(p)) return;
    // Data changed since the check was queued: its answer says nothing.
    if (check.generation != partGeneration_[p] || f.gaps_.overlaps(check.start, check.end)) return;
    switch (check.outcome) {
        case CheckOutcome::kMatch:
            verifiedParts_.set(p, true);
            for (uint32_t c = f.firstCrumbOf(p); c < f.endCrumbOf(p); c++) {
                if (!verifiedCrumbs_.get(c)) events.notices.push_back(c);
                verifiedCrumbs_.set(c, true);
                events.progress.push_back({Events::kGot, c, {}});
            }
            events.verified = true;
            events.partVerified = true;
            break;
        case CheckOutcome::kMismatch:
            for (uint32_t c = f.firstCrumbOf(p); c < f.endCrumbOf(p); c++) {
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
                out->printRaw("Error validating part: %s (%U-%U)\n", f.meta_.name(), check.start, check.end);
            }
            break;
    }
}

void CheckResults::applyCrumb(const PartCheck& check, const CrumbCheck& crumb, Events& events) {
    file_.sameLock(mutex_);
    const uint32_t c = crumb.index;
    if (file_.state() != PartialFile::kActive || verifiedCrumbs_.get(c)) return;
    if (file_.gaps_.overlaps(crumb.start, crumb.end)) return;
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
                out->printRaw("Error validating crumb: %s (%U-%U)\n", file_.meta_.name(), crumb.start, crumb.end);
            }
            break;
    }
}

void CheckResults::markCorruptLocked(uint64_t a, uint64_t b) {
    PartialFile& f = file_;
    f.sameLock(mutex_);
    f.bytesDone_ -= static_cast<int64_t>(b - a);
    if (UIGateway* out = ui()) {
        out->print("%s %s %s %U-%U", storageString(STRINGS_CORRUPTION_FOUND), f.meta_.name(),
                   storageString(STRINGS_AT), a, b);
    }
    f.gaps_.addGap(a, b);
    for (uint32_t p = static_cast<uint32_t>(a / kPartSize); p <= (b - 1) / kPartSize; p++) {
        verifiedParts_.set(p, false);
        partGeneration_[p]++;
    }
}

void CheckResults::markMissingLocked(uint64_t a, uint64_t b, Events& events) {
    PartialFile& f = file_;
    f.sameLock(mutex_);
    if (a >= b) return;
    f.bytesDone_ -= static_cast<int64_t>(b - a);
    if (UIGateway* out = ui()) out->print("Data missing in %s at %U-%U", f.meta_.name(), a, b);
    f.gaps_.addGap(a, b);
    for (uint32_t c = static_cast<uint32_t>(a / kCrumbSize); c <= (b - 1) / kCrumbSize; c++) {
        bool wasVerified = verifiedCrumbs_.get(c);
        verifiedCrumbs_.set(c, false);
        // A crumb that was complete is offered whole again; otherwise only
        // the bytes now missing are.
        if (wasVerified) {
            events.progress.push_back({Events::kReset, c, {}});
        } else {
            events.progress.push_back(
                {Events::kReturn, c, {std::max(a, f.crumbStart(c)), std::min(b, f.crumbEnd(c))}});
        }
    }
    for (uint32_t p = static_cast<uint32_t>(a / kPartSize); p <= (b - 1) / kPartSize; p++) {
        verifiedParts_.set(p, false);
        partGeneration_[p]++;
    }
}

void CheckResults::dropCrumbHashesLocked(uint32_t crumb, Events& events) {
    file_.sameLock(mutex_);
    file_.meta_.dropCrumbHashes();
    crumbHashesDropped_ = true;
    crumbGeneration_++;
    if (UIGateway* out = ui()) {
        out->printRaw("Crumb hashes of %s dropped: crumb %u failed twice, whole parts are checked\n",
                      file_.meta_.name(), crumb);
    }
    // Complete parts that waited for crumb checks are checked whole.
    collectAllLocked(events.checks);
}

bool CheckResults::partTrustedLocked(uint32_t p) const {
    const PartialFile& f = file_;
    f.sameLock(mutex_);
    if (!f.hashSetKnown_ || verifiedParts_.get(p)) return true;
    const FilePart& part = *f.parts_[p];
    if (pendingPart_[p] || !f.gaps_.overlaps(part.start(), part.end())) return false;
    for (uint32_t c = f.firstCrumbOf(p); c < f.endCrumbOf(p); c++) {
        if (verifiedCrumbs_.get(c)) continue;
        if (pendingCrumb_[c] || !f.gaps_.overlaps(f.crumbStart(c), f.crumbEnd(c))) return false;
    }
    return true;
}

void CheckResults::reopenPart(uint32_t p, CheckOutcome why, uint64_t readableEnd) {
    PartialFile& f = file_;
    auto check = std::make_unique<PartCheck>();
    {
        SysMutexGuard guard(&mutex_);
        verifiedParts_.set(p, false);
        for (uint32_t c = f.firstCrumbOf(p); c < f.endCrumbOf(p); c++) verifiedCrumbs_.set(c, false);
        if (!pendingPart_[p]) {
            pendingPart_[p] = 1;
            pending_++;
        }
        check->part = p;
        check->filePart = f.parts_[p].get();
        check->whole = true;
        check->start = f.parts_[p]->start();
        check->end = f.parts_[p]->end();
        check->generation = partGeneration_[p];
        check->outcome = why;
        check->readableEnd = readableEnd;
    }
    post(std::move(check));
}
