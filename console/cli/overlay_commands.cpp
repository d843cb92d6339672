#include "console/cli/overlay_commands.h"

#include <algorithm>

#include "console/cli/command_output.h"
#include "console/cli/command_words.h"
#include "console/cli/flock_clc.h"
#include "core/bus/message_q.h"
#include "core/meta/meta.h"
#include "core/net/ip_text.h"
#include "core/options/core_options.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/index/service.h"
#include "overlay/opcodes.h"
#include "overlay/routing/contact_list.h"
#include "v4ada/digest/md4.h"
#include "v4ada/memory/malloc4.h"

namespace {

// Contacts the nearest command lists without a count.
constexpr int kNearestDefault = 10;

UIGateway* out() { return currentUI(); }

std::string hexOf(const UniqueID& id) {
    char* hex = id.toHex();
    std::string text(hex);
    i4_free(hex);
    return text;
}

}  // namespace

void s_command(char* line) {
    FlockCLC* client = consoleClient.load();
    if (!client) return;
    client->clearResults();
    client->parseSearch(line);
}

void vr_command(char* line) {
    FlockCLC* client = consoleClient.load();
    if (!client) return;
    CommandWords words(line);
    if (!words.at(1)) {
        beginPage();
        Servant::printMetaTable(client->results());
        return;
    }
    int index = numberOf(words.at(1)) - 1;
    Meta* entry = index >= 0 ? client->results()->at(index) : nullptr;
    Servant::printMeta(entry);
}

void boot_command(char* line) {
    CommandWords words(line);
    const char* ip = nullptr;
    int port = 0;
    if (!addressWords(words, &ip, &port)) return;
    auto request = new Meta();
    request->set("ipStr", ip, kTagString);
    int32_t value = port;
    request->set("port", &value, kTagInt);
    if (messageQ)
        messageQ->post(MSG_BOOT, request);
    else
        delete request;
}

void retest_command(char*) {
    printText("retestingFirewall", "Retesting the firewall...");
    if (messageQ) messageQ->post(MSG_RETEST_FIREWALL, nullptr);
}

void vc_command(char*) {
    FlockGateway* gateway = flockGateway();
    beginPage();
    printText("contactList", "Contact List:");
    if (gateway && gateway->contacts()) gateway->contacts()->list(gateway->refresher().recheckCount());
}

void uport_command(char* line) {
    FlockGateway* gateway = flockGateway();
    if (!gateway) return;
    CommandWords words(line);
    int port = 0;
    UIGateway* ui = out();
    if (!portOf(words.at(1), &port)) {
        if (ui) ui->print("%d", gateway->self().udpPort());
        return;
    }
    gateway->self().setUdpPort(port);
    if (ui) ui->print("%s %u", uiText("udpPortChangedTo", "UDP port changed to").c_str(), static_cast<unsigned>(port));
}

void getloc_command(char*) {
    FlockGateway* gateway = flockGateway();
    if (gateway && out()) out()->print("%s", gateway->location().c_str() ? gateway->location().c_str() : "");
}

void vbud_command(char*) {
    if (FlockGateway* gateway = flockGateway()) gateway->buddies().list();
}

void g_command(char*) {
    FlockGateway* gateway = flockGateway();
    UIGateway* ui = out();
    if (!gateway || !ui) return;
    switch (gateway->firewallStatus()) {
        case NetworkGateway::kOpen:
            ui->print("%s", "(open)");
            break;
        case NetworkGateway::kFirewalled:
            ui->print("%s", "(firewalled)");
            break;
        default:
            ui->print("%s", "(unclear)");
            break;
    }
    ui->print("ID: %s", hexOf(gateway->ownNode().id).c_str());
    if (CoreOptions* options = coreOptions()) {
        OwnedString own;
        OwnedString buddy;
        ui->print("%s:%d  (%s:%d)\n", ipToText(options->ownIP(), own), static_cast<int>(options->tcpPort()),
                  ipToText(options->buddyIP(), buddy), static_cast<int>(options->buddyPort()));
    }
    Servant* servant = consoleServant.load();
    if (servant && servant->masterMode() && gateway->contacts()) gateway->contacts()->printOwnBucket();
    ui->print("Users: %u   Files: %u", gateway->estimatedUsers(), gateway->estimatedFiles());
}

void dir_command(char*) {
    FlockGateway* gateway = flockGateway();
    if (gateway && out())
        out()->print("%s %d", uiText("indexing", "Indexing:").c_str(), gateway->directory().count());
}

void check_command(char* line) {
    CommandWords words(line);
    const char* ip = nullptr;
    int port = 0;
    if (!addressWords(words, &ip, &port)) return;
    if (FlockGateway* gateway = flockGateway()) gateway->sendCheck(ip, port, INODE_CHECK);
}

void delay_command(char* line) {
    CommandWords words(line);
    if (!words.at(1)) {
        printInvalidArguments();
        return;
    }
    if (FlockGateway* gateway = flockGateway()) gateway->publisher().setStep(numberOf(words.at(1)));
}

void testp_command(char* line) {
    CommandWords words(line);
    FlockGateway* gateway = flockGateway();
    if (!gateway || !words.at(1) || !words.at(2)) return;
    Service service;
    md4String(service.serviceId.bytes(), words.at(1));
    md4String(service.descId.bytes(), words.at(2));
    service.set("Test", words.at(1), kTagString);
    gateway->publish(&service, false, 1.0);
}

void vcl_command(char*) {
    FlockGateway* gateway = flockGateway();
    if (gateway && gateway->contacts()) gateway->contacts()->dumpTree();
}

void nearest_command(char* line) {
    CommandWords words(line);
    FlockGateway* gateway = flockGateway();
    UIGateway* ui = out();
    if (!gateway || !ui || !words.at(1) || !gateway->contacts()) return;
    int count = words.at(2) ? numberOf(words.at(2)) : kNearestDefault;
    UniqueID target;
    md4String(target.bytes(), words.at(1));
    LL found;
    gateway->contacts()->nearest(target, count, &found);
    std::vector<Node*> nodes;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&found, &cursor)) nodes.push_back(static_cast<Node*>(element));
    std::sort(nodes.begin(), nodes.end(), [&](Node* a, Node* b) { return isCloser(target, a, b); });
    for (Node* node : nodes)
        ui->print("%s, %d:%d", hexOf(node->id).c_str(), static_cast<int32_t>(node->ip), node->port);
}
