#include "console/cli/upload_peer_commands.h"

#include <memory>
#include <vector>

#include "console/cli/command_output.h"
#include "console/cli/command_words.h"
#include "console/cli/servant.h"
#include "core/meta/file_list.h"
#include "core/meta/file_meta.h"
#include "core/options/core_options.h"
#include "core/net/socket_pool.h"
#include "core/startup/core_thread.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "transfer/hub/transfer_gateway.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"
#include "transfer/uploads/upload_pool.h"
#include "transfer/uploads/upload_slot_interface.h"
#include "v4ada/string/text_convert.h"

namespace {

UIGateway* out() { return currentUI(); }

bool masterMode() {
    Servant* servant = consoleServant.load();
    return servant && servant->masterMode();
}

// The connection numbered as vp lists it, or null (with "Invalid peer"
// printed); null without a word too, silently.
Peer* peerOf(const CommandWords& words) {
    if (!words.at(1)) return nullptr;
    ClientPool* pool = clientPool();
    Peer* peer = pool ? pool->peerAt(numberOf(words.at(1)) - 1) : nullptr;
    if (!peer) printText("invalidPeer", "Invalid peer");
    return peer;
}

}  // namespace

void vu_command(char*) {
    UIGateway* ui = out();
    if (!ui) return;
    beginPage();
    printText("fileNameWhoSpeed", "File Name\t\tWho\t\tSpeed");
    bool master = masterMode();
    if (UploadPool* pool = uploadPool()) {
        int number = 0;
        for (UploadSlotInterface* slot : pool->slotsSnapshot()) {
            OwnedString file;
            UserMeta user;
            const char* name = slot->fileName(file);
            const char* who = slot->user(user) ? user.nickname() : "";
            double speed = slot->speed();
            ++number;
            if (master) {
                ui->print("(%d) %s\t%s\t%.1f (%d)", number, printableText(name).c_str(), printableText(who).c_str(), speed,
                          slot->score());
            } else {
                ui->print("(%d) %s\t%s\t%.1f", number, printableText(name).c_str(), printableText(who).c_str(), speed);
            }
            slot->release();
        }
    }
    CoreOptions* options = coreOptions();
    ui->print("%s: %.2f (%.2f)", uiText("total", "Total").c_str(), options ? options->currentUpRate() : 0.0,
              options ? options->maxUpSpeed() : 0.0);
}

void vq_command(char*) {
    UIGateway* ui = out();
    UploadPool* pool = uploadPool();
    if (!ui || !pool) return;
    beginPage();
    UploadQueue& queue = pool->queue();
    ui->print("%s (%d): ", uiText("uploadQ", "Upload Queue").c_str(), queue.queuedCount());
    TransferGateway* hub = transferGateway();
    int number = 0;
    for (const std::unique_ptr<FileQueue>& files : queue.fileQueues()) {
        ++number;
        FileMeta* shared = hub ? hub->sharedFile(files->hash()) : nullptr;
        if (shared) {
            ui->print("(%d) %s %d:", number, printableText(shared->name()).c_str(), files->priority());
        } else {
            ui->print("(%d) %s %d:", number, kUnknownFileName, files->priority());
        }
        for (int j = 0; j < files->count(); j++) {
            const char* nick = files->at(j).nickname();
            ui->print("\t%d) %s", j + 1, printableText(nick).c_str());
        }
    }
}

void vp_command(char*) {
    UIGateway* ui = out();
    CoreThread* core = coreThread();
    STSocketPool* sockets = core ? core->socketPool() : nullptr;
    if (!ui) return;
    beginPage();
    ui->print("%d %s.", sockets ? sockets->count() : 0, uiText("connections", "Connections").c_str());
    if (masterMode()) {
        double receive = 0.0;
        double send = 0.0;
        if (sockets) {
            sockets->dump();
            sockets->sumAverages(&receive, &send);
        }
        ui->print("%s: %.1f %.1f", uiText("total", "Total").c_str(), receive, send);
        return;
    }
    ClientPool* pool = clientPool();
    if (!pool) return;
    int number = 0;
    pool->forEachPeer([&](Peer* peer) {
        const char* name = peer->name();
        ui->print("(%d) %s", ++number, printableText(name).c_str());
    });
}

void ping_command(char* line) {
    CommandWords words(line);
    Peer* peer = peerOf(words);
    if (!peer) return;
    peer->sendPing();
    const char* name = peer->name();
    if (UIGateway* ui = out()) ui->print("Ping %s ...", printableText(name).c_str());
}

void kick_command(char* line) {
    CommandWords words(line);
    Peer* peer = peerOf(words);
    if (!peer) return;
    peer->markForClose();
    const char* name = peer->name();
    if (UIGateway* ui = out()) ui->print("%s: %s ...", uiText("kicking", "Kicking").c_str(), printableText(name).c_str());
}
