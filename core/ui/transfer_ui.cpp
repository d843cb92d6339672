#include "core/ui/transfer_ui.h"

#include <atomic>

#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "v4ada/string/owned_string.h"

void TransferUI::doorFailed(int tcpPort) {
    UIGateway* ui = currentUI();
    if (!ui) return;
    XMLStringTable* table = XMLStringTable::instance();
    OwnedString cantListen(kCantListenDefault);
    OwnedString advice(kCantStartDoorDefault);
    if (table) {
        table->lookup(kCantListenKey, cantListen);
        table->lookup(kCantStartDoorKey, advice);
    }
    // Skin texts are data, never formats.
    ui->print("%s %d.", cantListen.c_str(), tcpPort);
    ui->print("%s", advice.c_str());
}

namespace {
std::atomic<TransferUI*> gTransferUI{nullptr};
}  // namespace

TransferUI* currentTransferUI() { return gTransferUI.load(); }

TransferUI* setCurrentTransferUI(TransferUI* ui) { return gTransferUI.exchange(ui); }
