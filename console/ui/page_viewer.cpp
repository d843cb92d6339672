#include "console/ui/page_viewer.h"

#include "core/ui/ui_gateway.h"

namespace {

constexpr int kSpaceKey = ' ';

}  // namespace

PageViewer::PageViewer() = default;

PageViewer::~PageViewer() = default;

void PageViewer::begin() {
    SysMutexGuard guard(&lock_);
    if (!collecting_ || std::this_thread::get_id() != collector_) return;
    armed_ = true;
    dropped_ = false;
    lines_.clear();
}

void PageViewer::addLine(const char* text) {
    if (text) takeLine(text);
}

bool PageViewer::takeLine(const char* line) {
    SysMutexGuard guard(&lock_);
    if (!armed_ || !collecting_ || std::this_thread::get_id() != collector_) return false;
    if (!line) return true;
    if (static_cast<int>(lines_.size()) >= kMaxLines) {
        dropped_ = true;
    } else {
        lines_.emplace_back(line);
    }
    return true;
}

void PageViewer::setCollecting(bool on) {
    SysMutexGuard guard(&lock_);
    collecting_ = on;
    collector_ = on ? std::this_thread::get_id() : std::thread::id();
}

bool PageViewer::isArmed() {
    SysMutexGuard guard(&lock_);
    return armed_;
}

void PageViewer::setLinesPerPage(int n) {
    if (n < 1) return;
    SysMutexGuard guard(&lock_);
    linesPerPage_ = n;
}

int PageViewer::linesPerPage() {
    SysMutexGuard guard(&lock_);
    return linesPerPage_;
}

void PageViewer::show(UIGateway* out, KeySource* keys) {
    std::vector<std::string> lines;
    bool dropped;
    int perPage;
    {
        SysMutexGuard guard(&lock_);
        if (!armed_) return;
        // From here on printed lines go to the output again.
        armed_ = false;
        lines.swap(lines_);
        dropped = dropped_;
        dropped_ = false;
        perPage = linesPerPage_;
    }
    if (!out) return;

    const int count = static_cast<int>(lines.size());
    const bool paging = keys && keys->isTerminal();
    int i = 0;
    if (paging) {
        while (count - i > perPage) {
            for (int k = i; k < i + perPage; ++k) out->print("%s", lines[k].c_str());
            out->printFlush("%s", kPagePrompt);
            int key;
            do {
                key = keys->readKey();
            } while (key != kSpaceKey && key != 'q' && key != 'Q' && key >= 0);
            out->printFlush("\n");
            if (key != kSpaceKey) return;
            i += perPage;
        }
    }
    for (int k = i; k < count; ++k) out->print("%s", lines[k].c_str());
    if (dropped) out->print("%s", kFullMarker);
}
