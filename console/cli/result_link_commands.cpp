#include "console/cli/result_link_commands.h"

#include "console/cli/command_output.h"
#include "console/cli/command_words.h"
#include "console/cli/file_link.h"
#include "console/cli/flock_clc.h"
#include "core/bus/message_q.h"
#include "core/bus/source_records.h"
#include "core/meta/file_meta.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "overlay/gateway/network_gateway.h"
#include "overlay/index/service.h"
#include "v4ada/net/http_connection.h"
#include "v4ada/threads/linux/threads.h"

namespace {

// What the fetch thread needs: the URL and the line to fall back on.
struct LinkFetch {
    std::string url;
    std::string line;
};

void fetchAndRun(void* argument) {
    std::unique_ptr<LinkFetch> job(static_cast<LinkFetch*>(argument));
    i4_HttpConnection http;
    OwnedString text("");
    if (http.fetch(job->url.c_str(), &text) == 0) {
        runFileLink(fetchedLinkLine(text.c_str()).c_str());
    } else {
        runFileLink(job->line.c_str());
    }
}

}  // namespace

void d_command(char* line) {
    FlockCLC* client = consoleClient.load();
    UIGateway* ui = currentUI();
    if (!client) return;
    CommandWords words(line);
    int index = numberOf(words.at(1)) - 1;
    auto* entry = index >= 0 ? static_cast<Service*>(client->results()->at(index)) : nullptr;
    if (!entry) {
        if (ui) ui->print("%s", kInvalidResultText);
        return;
    }
    auto* record = new FileMeta();
    record->copyTags(entry);
    record->setFileHash(entry->descId);
    if (messageQ) {
        messageQ->post(MSG_START_DOWNLOAD, record);
    } else {
        delete record;
    }
}

void runFileLink(const char* line) {
    ParsedLink link = parseFileLink(line);
    UIGateway* ui = currentUI();
    switch (link.kind) {
        case ParsedLink::Kind::kNothing:
            return;
        case ParsedLink::Kind::kMessage:
            printText(link.messageKey, link.messageText);
            return;
        case ParsedLink::Kind::kInvalidArguments:
            printInvalidArguments();
            return;
        case ParsedLink::Kind::kServer: {
            NetworkGateway* gateway = networkGateway();
            if (gateway && gateway->addServer(link.serverIp, link.serverPort) && ui)
                ui->print("%s %s\n", link.serverText.c_str(), uiString(STRINGS_ADDED));
            return;
        }
        case ParsedLink::Kind::kFile:
            break;
    }
    if (!messageQ) return;
    const UniqueID hash = link.file->fileHash();
    messageQ->post(MSG_START_DOWNLOAD, link.file.release());
    for (const std::string& source : link.sources)
        messageQ->post(MSG_ADD_SOURCE_LINK, new SourceLinkRecord{OwnedString(source.c_str()), hash});
}

void dllink_command(char* line) {
    std::string url = fetchUrlOf(line);
    if (url.empty()) {
        runFileLink(line);
        return;
    }
    auto* job = new LinkFetch{url, line ? line : ""};
    if (thread_spawn(fetchAndRun, 0, job) != 0) delete job;
}
