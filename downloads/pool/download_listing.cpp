// What the console and the remote controller read of a download: its
// status, its availability, the listing of its sources, and the "Last Seen
// Complete" stamp of its record.
#include <cstring>
#include <ctime>

#include "core/meta/file_meta.h"
#include "core/meta/meta_tag.h"
#include "core/meta/user_meta.h"
#include "core/strings/priority_names.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "downloads/file_source_interface.h"
#include "downloads/pool/download.h"
#include "downloads/pool/download_state.h"
#include "v4ada/time/time_value.h"
#include "v4ada/string/text_convert.h"

namespace {

// Source status codes are shown as string-table entry code + 78.
constexpr int kSourceStatusBase = 78;
// The source status of a client that put us on its upload queue.
constexpr int kSourceOnQueue = 3;
// Longest printed entry of a source, in bytes.
constexpr int kEntryMax = 511;

const char* kDefaultPriorityNames[] = {"Low", "Normal", "High", "Highest"};

const char* priorityText(int priority) {
    if (priority < 0 || priority > 3) return "";
    const char* name = priorityName(priority);
    return name ? name : kDefaultPriorityNames[priority];
}

}  // namespace

int Download::statusCode() {
    if (!lock(kStatusWaitMs)) return 0;
    int code = state_->code();
    unlock();
    return code;
}

double Download::availability() {
    uint32_t crumbs = progress_.crumbCount();
    if (crumbs == 0) return 0.0;
    uint32_t unheld = 0;
    for (uint32_t c = 0; c < crumbs; c++) unheld += progress_.weight(c) == 0;
    return static_cast<double>(crumbs - unheld) / crumbs;
}

void Download::lastSeenComplete() {
    bool complete = progress_.crumbCount() > 0 && progress_.allAvailable();
    if (!complete && !seenComplete_) return;
    seenComplete_ = complete;
    if (partial_ == nullptr) return;
    time_t now = static_cast<time_t>(wall_clock_now().seconds);
    struct tm local;
    char text[64] = {};
    if (localtime_r(&now, &local) == nullptr || asctime_r(&local, text) == nullptr) return;
    if (char* newline = std::strchr(text, '\n')) *newline = '\0';
    partial_->withMeta([&text](FileMeta& record) { record.set(kLastSeenCompleteTag, text, kTagString); });
}

void Download::showSources() {
    UIGateway* ui = currentUI();
    if (ui == nullptr) return;
    LockGuard guard(this);
    int count = sources_.count();
    if (count == 0) {
        OwnedString name = this->name();
        ui->print("%s %s:", uiText(kNoSourcesKey, kNoSourcesDefault).c_str(), printableText(name.c_str()).c_str());
        ui->print(" %s %s\t\t%s %s", uiText(kStatusKey, kStatusDefault).c_str(), uiString(state_->code()),
                  uiText(kPriorityKey, kPriorityDefault).c_str(), priorityText(priority()));
        return;
    }
    ui->print("%s %d %s", uiText(kShowSourcesKey, kShowSourcesDefault).c_str(), count,
              uiText(kSourcesKey, kSourcesDefault).c_str());
    OwnedString status;
    OwnedString entry;
    int number = 0;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&sources_, &cursor)) {
        auto* source = static_cast<FileSourceInterface*>(element);
        int code = source->statusCode();
        const char* text = uiString(code + kSourceStatusBase);
        if (code == kSourceOnQueue) {
            status.format("%s %u", text, source->queuePlace());
        } else {
            status = OwnedString(text);
        }
        const char* user = source->userName();
        if (user == nullptr || user[0] == '\0') user = "???";
        const char* file = source->fileName();
        // Names chosen by peers: shown with their control bytes escaped.
        entry.format("%d) user: %s\t\tstatus: %S speed: %.2f\n   file name: %s", ++number,
                     printableText(user).c_str(), &status, source->getSpeed(), printableText(file).c_str());
        if (entry.length() > kEntryMax) entry = OwnedString(entry.c_str(), kEntryMax);
        ui->print("%s", entry.c_str());
    }
}
