#include "downloads/storage/dl_progress.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "core/meta/file_meta.h"
#include "core/ui/ui_gateway.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/time/random.h"

namespace {

constexpr uint32_t kCrumbsPerPart = kPartSize / kCrumbSize;

void rawPrint(const char* format, uint32_t a, uint32_t b) {
    if (UIGateway* ui = currentUI()) ui->printRaw(format, a, b);
}

std::string rangesText(const CrumbEntry& entry) {
    std::string text;
    char piece[48];
    for (const Gap& range : entry.ranges) {
        std::snprintf(piece, sizeof piece, " (%" PRIu64 "-%" PRIu64 ")", range.start, range.end);
        text += piece;
    }
    return text;
}

}  // namespace

uint64_t DLProgress::crumbEnd(uint32_t crumb) const { return std::min(crumbStart(crumb) + kCrumbSize, size_); }

void DLProgress::init(const GapView* file) {
    file_ = file;
    crumbs_.clear();
    order_.clear();
    freed_++;
    size_ = file ? file->fileSize() : 0;
    if (file == nullptr) return;
    uint32_t count = crumbCountOf(size_);
    crumbs_.resize(count);
    for (uint32_t i = 0; i < count; i++) {
        CrumbEntry& entry = crumbs_[i];
        uint64_t c = crumbStart(i);
        file->gapsIn(c, crumbEnd(i), entry.ranges);
        // A wholly missing full crumb is offered in two halves.
        if (!entry.ranges.empty() && entry.ranges[0] == Gap{c, c + kCrumbSize}) {
            entry.ranges[0].end = c + kHalfCrumb;
            entry.ranges.push_back(Gap{c + kHalfCrumb, c + kCrumbSize});
        }
        for (const Gap& range : entry.ranges) entry.freeBytes += range.length();
        entry.weight = entry.ranges.empty() ? CrumbEntry::kComplete : 0;
    }
    shuffle();
    sort();
}

void DLProgress::shuffle() {
    uint32_t count = crumbCount();
    order_.assign(count, 0);
    for (uint32_t i = 1; i < count; i++) {
        uint32_t j = static_cast<uint32_t>(random_below(static_cast<int>(count)));
        while (order_[j] != 0) j = j + 1 == count ? 0 : j + 1;
        order_[j] = i;
    }
}

int DLProgress::compare(uint32_t a, uint32_t b) const {
    const CrumbEntry& x = crumbs_[a];
    const CrumbEntry& y = crumbs_[b];
    if (x.weight == CrumbEntry::kComplete) return y.weight != CrumbEntry::kComplete ? 1 : 0;
    if (y.weight == CrumbEntry::kComplete || x.weight < y.weight) return -1;
    if (y.weight < x.weight) return 1;
    if (x.freeBytes < y.freeBytes) return -1;
    return x.freeBytes > y.freeBytes ? 1 : 0;
}

void DLProgress::sort() {
    // Stable insertion sort: the order is nearly sorted after one change.
    for (size_t i = 1; i < order_.size(); i++) {
        uint32_t moving = order_[i];
        size_t j = i;
        while (j > 0 && compare(order_[j - 1], moving) > 0) {
            order_[j] = order_[j - 1];
            j--;
        }
        order_[j] = moving;
    }
}

void DLProgress::clampedAdd(uint32_t crumb, int32_t delta, const char* who, bool* changed) {
    CrumbEntry& entry = crumbs_[crumb];
    int64_t next = static_cast<int64_t>(entry.weight) + delta;
    if (next < 0) {
        next = 0;
        if (UIGateway* ui = currentUI()) ui->printRaw("%s", who);
    }
    if (next > INT32_MAX) next = INT32_MAX;
    if (next != entry.weight) *changed = true;
    entry.weight = static_cast<int32_t>(next);
}

void DLProgress::changeWeight(const BoolArray* map, int32_t delta) {
    if (map == nullptr || map->count() != crumbCount()) return;
    bool changed = false;
    for (uint32_t i = 0; i < crumbCount(); i++) {
        if (crumbs_[i].weight == CrumbEntry::kComplete || !map->get(i)) continue;
        clampedAdd(i, delta, "DLProgress::changeWeight\n", &changed);
    }
    if (changed) sort();
}

void DLProgress::changeCrumbs(const BoolArray* oldMap, const BoolArray* newMap, int32_t delta) {
    if (oldMap == nullptr || newMap == nullptr) return;
    if (oldMap->count() != crumbCount() || newMap->count() != crumbCount()) return;
    bool changed = false;
    for (uint32_t i = 0; i < crumbCount(); i++) {
        if (crumbs_[i].weight == CrumbEntry::kComplete) continue;
        bool had = oldMap->get(i);
        bool has = newMap->get(i);
        if (had && !has) clampedAdd(i, -delta, "DLProgress::changeCrumbs\n", &changed);
        if (has && !had) clampedAdd(i, delta, "DLProgress::changeCrumbs\n", &changed);
    }
    if (changed) sort();
}

void DLProgress::gotCrumb(uint32_t crumb) {
    if (crumb >= crumbCount()) {
        rawPrint("ERROR: DLProgress::gotCrumb(%u) %u\n", crumb, crumbCount());
        return;
    }
    CrumbEntry& entry = crumbs_[crumb];
    // Already complete (a part's check marks every crumb of it): the order
    // stays as it is.
    if (entry.weight == CrumbEntry::kComplete && entry.ranges.empty()) return;
    entry.weight = CrumbEntry::kComplete;
    // A verified crumb misses nothing: no range of it is offered again.
    entry.ranges.clear();
    entry.freeBytes = 0;
    sort();
}

void DLProgress::resetCrumb(uint32_t crumb) {
    if (crumb >= crumbCount()) {
        rawPrint("ERROR: DLProgress::gotCrumb(%u) %u\n", crumb, crumbCount());
        return;
    }
    CrumbEntry& entry = crumbs_[crumb];
    entry.weight = 0;
    entry.ranges.assign(1, Gap{crumbStart(crumb), crumbEnd(crumb)});
    entry.freeBytes = entry.ranges[0].length();
    freed_++;
    sort();
}

int DLProgress::addFree(uint32_t crumb, uint64_t start, uint64_t end) {
    CrumbEntry& entry = crumbs_[crumb];
    std::vector<Gap> pieces;
    uint64_t cursor = start;
    for (const Gap& range : entry.ranges) {
        if (cursor >= end || range.start >= end) break;
        if (range.end <= cursor) continue;
        if (range.start > cursor) pieces.push_back(Gap{cursor, range.start});
        cursor = std::max(cursor, range.end);
    }
    if (cursor < end) pieces.push_back(Gap{cursor, end});
    for (const Gap& piece : pieces) {
        auto at = std::lower_bound(entry.ranges.begin(), entry.ranges.end(), piece,
                                   [](const Gap& a, const Gap& b) { return a.start < b.start; });
        entry.ranges.insert(at, piece);
        entry.freeBytes += piece.length();
    }
    return static_cast<int>(pieces.size());
}

int DLProgress::returnRange(uint64_t start, uint64_t end) {
    end = std::min(end, size_);
    if (file_ == nullptr || start >= end) return 0;
    int added = 0;
    bool reopened = false;
    std::vector<Gap> missing;
    uint32_t last = static_cast<uint32_t>((end - 1) / kCrumbSize);
    for (uint32_t crumb = static_cast<uint32_t>(start / kCrumbSize); crumb <= last; crumb++) {
        missing.clear();
        file_->gapsIn(std::max(start, crumbStart(crumb)), std::min(end, crumbEnd(crumb)), missing);
        if (missing.empty()) continue;
        CrumbEntry& entry = crumbs_[crumb];
        if (entry.weight == CrumbEntry::kComplete) {
            // Bytes of a crumb taken as complete went missing on disk: it is
            // offered again. Who has it is not known any more, as after a
            // failed check.
            entry.weight = 0;
            reopened = true;
        }
        for (const Gap& gap : missing) added += addFree(crumb, gap.start, gap.end);
    }
    if (added > 0) freed_++;
    if (reopened) sort();
    return added;
}

void DLProgress::takeFront(CrumbEntry& entry, uint64_t length) {
    Gap& front = entry.ranges.front();
    entry.freeBytes -= length;
    if (length < front.length()) {
        front.start += length;
    } else {
        entry.ranges.erase(entry.ranges.begin());
    }
}

bool DLProgress::pickRange(const BoolArray* map, uint64_t* start, uint64_t* end, uint64_t max) {
    if (map == nullptr || map->count() != crumbCount()) return false;
    for (uint32_t crumb : order_) {
        CrumbEntry& entry = crumbs_[crumb];
        if (entry.weight == CrumbEntry::kComplete) return false;
        if (entry.ranges.empty() || !map->get(crumb)) continue;
        const Gap front = entry.ranges.front();
        uint64_t length = max > 0 && front.length() > max ? max : front.length();
        *start = front.start;
        *end = front.start + length;
        takeFront(entry, length);
        return true;
    }
    return false;
}

bool DLProgress::pickPartRange(uint64_t* start, uint64_t* end) {
    uint32_t parts = partCountOf(size_);
    if (parts == 0) return false;
    uint32_t first = static_cast<uint32_t>(random_below(static_cast<int>(parts)));
    for (uint32_t k = 0; k < parts; k++) {
        uint32_t part = (first + k) % parts;
        uint32_t from = part * kCrumbsPerPart;
        uint32_t to = std::min(from + kCrumbsPerPart, crumbCount());
        uint32_t crumb = from;
        while (crumb < to && crumbs_[crumb].ranges.empty()) crumb++;
        if (crumb == to) continue;
        uint64_t runStart = crumbs_[crumb].ranges.front().start;
        uint64_t runEnd = runStart;
        // One contiguous run of free ranges, across crumbs of this part.
        for (; crumb < to; crumb++) {
            CrumbEntry& entry = crumbs_[crumb];
            bool took = false;
            while (!entry.ranges.empty() && entry.ranges.front().start == runEnd) {
                runEnd = entry.ranges.front().end;
                takeFront(entry, entry.ranges.front().length());
                took = true;
            }
            if (!took || !entry.ranges.empty()) break;
        }
        *start = runStart;
        *end = runEnd;
        return true;
    }
    return false;
}

bool DLProgress::hasFreeRange() const {
    for (const CrumbEntry& entry : crumbs_) {
        if (!entry.ranges.empty()) return true;
    }
    return false;
}

bool DLProgress::hasFreeFor(const BoolArray* map) const {
    if (map == nullptr || map->count() != crumbCount()) return false;
    for (uint32_t i = 0; i < crumbCount(); i++) {
        if (!crumbs_[i].ranges.empty() && map->get(i)) return true;
    }
    return false;
}

bool DLProgress::allAvailable() const {
    for (const CrumbEntry& entry : crumbs_) {
        if (entry.weight == 0) return false;
    }
    return true;
}

void DLProgress::dump() const {
    UIGateway* ui = currentUI();
    if (ui == nullptr) return;
    ui->print("Progress Array:");
    for (uint32_t i = 0; i < crumbCount(); i++) {
        ui->print("%d) %d%s", static_cast<int>(i), crumbs_[i].weight, rangesText(crumbs_[i]).c_str());
    }
    ui->print("Preferred Array:");
    for (size_t p = 0; p < order_.size(); p++) {
        const CrumbEntry& entry = crumbs_[order_[p]];
        ui->print("%d) %d : %d%s", static_cast<int>(p), static_cast<int>(order_[p]), entry.weight,
                  rangesText(entry).c_str());
    }
}
