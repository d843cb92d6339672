#include "console/cli/download_commands.h"

#include <cstring>
#include <string>
#include <vector>

#include "console/cli/command_output.h"
#include "console/cli/command_words.h"
#include "console/cli/file_link.h"
#include "core/bus/message_q.h"
#include "core/meta/file_meta.h"
#include "core/meta/user_meta.h"
#include "core/net/ip_text.h"
#include "core/strings/priority_names.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/storage/partial_file.h"
#include "overlay/index/download_sources.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/string/text_convert.h"

namespace {

constexpr const char* kDefaultPriorityNames[] = {"Low", "Normal", "High", "Highest"};
constexpr uint64_t kKiB = 1024;
constexpr int kPercent = 100;

UIGateway* out() { return currentUI(); }

const char* priorityText(int priority) {
    if (priority < Download::kLow || priority > Download::kHighest) return "";
    const char* name = priorityName(priority);
    return name ? name : kDefaultPriorityNames[priority];
}

// A download by its 1-based number, with a reference the caller releases;
// null when there is none.
Download* downloadAt(int number) {
    DLPool* pool = DLPool::instance();
    if (!pool || number < 1) return nullptr;
    LLsafe* list = pool->downloadList();
    LLsafeGuard guard(list);
    auto* download = static_cast<Download*>(list->LL::at(number - 1));
    if (download) download->addRef();
    return download;
}

// The source at a 1-based number of the download. Task thread.
bool hasSource(Download* download, int number) {
    return number >= 1 && download->sources()->at(number - 1) != nullptr;
}

}  // namespace

void vd_command(char*) {
    UIGateway* ui = out();
    DLPool* pool = DLPool::instance();
    if (!ui || !pool) return;
    beginPage();
    printText("viewDownHeader", "File Name\tStatus\tSize\tTransfered\tSpeed\tAvailable\tPriority");
    LLsafe* list = pool->downloadList();
    {
        LLsafeGuard guard(list);
        int number = 0;
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(list, &cursor)) {
            auto* download = static_cast<Download*>(element);
            double speed = download->speed();
            int status = speed != 0.0 ? STRINGS_DL_STATUS_TRANSFERING : download->statusCode();
            PartialFile* partial = download->partialFile();
            int64_t done = partial ? partial->bytesDone() : 0;
            OwnedString name = download->name();
            ui->print("(%d) %s:", ++number, printableText(name.c_str()).c_str());
            // Sizes stay below 4 GiB, so their KiB fit 32 bits.
            ui->print("\t\t%s\t%uk\t%uk\t%.2f\t%d%%\t%s", uiString(status),
                      static_cast<unsigned>(download->size() / kKiB),
                      static_cast<unsigned>(static_cast<uint64_t>(done < 0 ? 0 : done) / kKiB), speed,
                      static_cast<int>(download->availability() * kPercent), priorityText(download->priority()));
        }
    }
    ui->print("%s: %.2f (%.2f)", uiText("total", "Total").c_str(), pool->currentRate(), pool->peakRate());
}

void dld_command(char* line) {
    CommandWords words(line);
    Download* download = downloadAt(numberOf(words.at(1)));
    if (!download) return;
    if (PartialFile* partial = download->partialFile())
        partial->withMeta([](FileMeta& record) { record.print(true); });
    download->release();
}

void vso_command(char* line) {
    CommandWords words(line);
    Download* download = downloadAt(numberOf(words.at(1)));
    if (!download) return;
    UIGateway* ui = out();
    BoolArray crumbs;
    if (ui && hasSource(download, numberOf(words.at(2))) && download->copyCrumbMap(crumbs)) {
        char shown[kCrumbsShown + 1];
        crumbs.toString(shown, kCrumbsShown);
        ui->print("%s : you", shown);
    }
    download->release();
}

void vpart_command(char*) {
    if (PartnerManager* partners = PartnerManager::instance()) partners->print();
}

void m_command(char* line) {
    CommandWords words(line);
    if (!words.at(1)) return;
    int number = numberOf(words.at(1));
    if (number < 1) {
        printText("invalidDownNum", "Invalid Download number");
        return;
    }
    const char* option = words.at(2);
    if (!option) return;
    Download* download = downloadAt(number);
    if (!download) return;
    int code = 0;
    int priority = -1;
    switch (option[0]) {
        case 'c':
            code = MSG_CANCEL_DOWNLOAD;
            break;
        case 'p':
            code = MSG_PAUSE_DOWNLOAD;
            break;
        case 'r':
            code = MSG_RESUME_DOWNLOAD;
            break;
        case 'l':
            priority = Download::kLow;
            break;
        case 'n':
            priority = Download::kNormal;
            break;
        case 'h':
            priority = Download::kHigh;
            break;
        case 'H':
            priority = Download::kHighest;
            break;
        case 'v':
            beginPage();
            download->showSources();
            break;
        default:
            break;
    }
    if (code != 0 && messageQ) {
        // The reference goes with the message; its handler releases it.
        messageQ->post(code, download);
        return;
    }
    if (priority >= 0)
        if (DLPool* pool = DLPool::instance()) pool->setPriority(download, priority);
    download->release();
}

void adds_command(char* line) {
    CommandWords words(line);
    const char* ip = words.at(2);
    if (!words.at(1) || !ip) return;
    int port = kDefaultSourcePort;
    if (words.at(3) && !portOf(words.at(3), &port)) return;
    Download* download = downloadAt(numberOf(words.at(1)));
    if (!download) return;
    OwnedString name = download->name();
    if (UIGateway* ui = out())
        ui->print("%s: %s:%d to %s", uiText("adding", "Adding").c_str(), ip, port, printableText(name.c_str()).c_str());
    UserMeta user;
    user.setIp(ipFromText(ip));
    user.setPort(static_cast<uint16_t>(port));
    download->addSource(&user, nullptr);
    download->release();
}

void reset_command(char* line) {
    CommandWords words(line);
    Download* download = downloadAt(numberOf(words.at(1)));
    if (!download) return;
    OwnedString name = download->name();
    if (UIGateway* ui = out())
        ui->print("%s: %s", uiText("resetting", "Resetting").c_str(), printableText(name.c_str()).c_str());
    if (DownloadSources* search = download->sourceSearch()) search->reset();
    download->release();
}

void vg_command(char* line) {
    DLPool* pool = DLPool::instance();
    UIGateway* ui = out();
    if (!pool || !ui || !line) return;
    LinkTokens tokens(line);
    std::string word;
    std::string scheme;
    std::string kind;
    std::string name;
    std::string size;
    std::string hashText;
    if (!tokens.next(CommandWords::kDelimiters, kLinkFieldMax, word) || !tokens.next("|", kLinkFieldMax, scheme) ||
        !tokens.next("|", kLinkFieldMax, kind) || kind != "file" || !tokens.next("|", kLinkFieldMax, name) ||
        !tokens.next("|", kLinkSizeMax, size) || !tokens.next("|", kLinkHashMax, hashText))
        return;
    UniqueID hash;
    if (!hash.fromHex(hashText.c_str())) return;
    Download* download = pool->findDownload(hash);
    if (!download) return;
    ui->print("\n%s:", uiText("partialFile", "Partial File").c_str());
    if (PartialFile* partial = download->partialFile()) partial->gapList().dump();
    printText("downloadProg", "Download Progress:");
    download->progress()->dump();
    download->release();
}
