#include "downloads/storage/gap_list.h"

#include <algorithm>

#include "core/ui/ui_gateway.h"

GapList::Map::const_iterator GapList::firstEndingAfter(uint64_t at) const {
    // The gap starting at or before `at` is the only earlier one that can
    // reach past it.
    auto it = gaps_.upper_bound(at);
    if (it != gaps_.begin()) {
        auto before = std::prev(it);
        if (before->second > at) return before;
    }
    return it;
}

bool GapList::containsLocked(uint64_t at) const {
    auto it = firstEndingAfter(at);
    return it != gaps_.end() && it->first <= at;
}

void GapList::addLocked(uint64_t a, uint64_t b) {
    if (a >= b) return;
    // Every gap that overlaps or touches [a, b) is swallowed: those ending
    // at a or later and starting at b or earlier.
    auto it = gaps_.lower_bound(a);
    if (it != gaps_.begin()) {
        auto before = std::prev(it);
        if (before->second >= a) it = before;
    }
    while (it != gaps_.end() && it->first <= b) {
        a = std::min(a, it->first);
        b = std::max(b, it->second);
        it = gaps_.erase(it);
    }
    gaps_.emplace(a, b);
}

void GapList::addGap(uint64_t a, uint64_t b) {
    SysMutexGuard guard(&mutex_);
    addLocked(a, b);
}

void GapList::appendGap(const Gap& gap) {
    SysMutexGuard guard(&mutex_);
    addLocked(gap.start, gap.end);
}

void GapList::fill(uint64_t a, uint64_t b) {
    if (a >= b) return;
    SysMutexGuard guard(&mutex_);
    auto it = firstEndingAfter(a);
    while (it != gaps_.end() && it->first < b) {
        uint64_t start = it->first;
        uint64_t end = it->second;
        it = gaps_.erase(it);
        if (start < a) gaps_.emplace(start, a);
        if (end > b) {
            gaps_.emplace(b, end);
            break;
        }
    }
}

bool GapList::overlaps(uint64_t a, uint64_t b) const {
    SysMutexGuard guard(&mutex_);
    if (a >= b) return containsLocked(a) || (b > 0 && containsLocked(b - 1));
    auto it = firstEndingAfter(a);
    return it != gaps_.end() && it->first < b;
}

int GapList::intersections(uint64_t a, uint64_t b, std::vector<Gap>& out) const {
    if (a >= b) return 0;
    SysMutexGuard guard(&mutex_);
    int count = 0;
    for (auto it = firstEndingAfter(a); it != gaps_.end() && it->first < b; ++it) {
        out.push_back(Gap{std::max(a, it->first), std::min(b, it->second)});
        count++;
    }
    return count;
}

bool GapList::isEmpty() const {
    SysMutexGuard guard(&mutex_);
    return gaps_.empty();
}

std::vector<Gap> GapList::gaps() const {
    SysMutexGuard guard(&mutex_);
    std::vector<Gap> out;
    out.reserve(gaps_.size());
    for (const auto& [start, end] : gaps_) out.push_back(Gap{start, end});
    return out;
}

int GapList::gapCount() const {
    SysMutexGuard guard(&mutex_);
    return static_cast<int>(gaps_.size());
}

uint64_t GapList::missingBytes() const {
    SysMutexGuard guard(&mutex_);
    uint64_t total = 0;
    for (const auto& [start, end] : gaps_) total += end - start;
    return total;
}

void GapList::clearGaps() {
    SysMutexGuard guard(&mutex_);
    gaps_.clear();
}

void GapList::dump() const {
    UIGateway* ui = currentUI();
    if (ui == nullptr) return;
    // Printed from a snapshot: the gateway is never called under the lock.
    std::vector<Gap> list = gaps();
    ui->print("\n#   (start- end)");
    int number = 1;
    for (const Gap& gap : list) ui->print("(%d) (%U-%U)", number++, gap.start, gap.end);
    ui->print("\n");
}
