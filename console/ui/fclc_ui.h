// FclcUI: the console's user interface. It prints through the output
// gateway's base behaviour and receives the core, transfer and overlay
// notifications. Of them it keeps the overlay's search results in the
// interpreter's result list and prints the end of each node's answer;
// the others are silent (the user sees transfers, friends and peers
// through the listing commands).
#pragma once

#include "core/ui/core_ui.h"
#include "core/ui/flock_ui.h"
#include "core/ui/transfer_ui.h"
#include "core/ui/ui_gateway.h"

class FclcUI : public UIGateway, public TransferUI, public FlockUI, public CoreUI {
public:
    FclcUI() = default;
    ~FclcUI() override = default;

    // A result not yet in the interpreter's list (same ServiceID and
    // DescID) joins it as a copy while the list has room (at most the
    // results one search asks for); nothing is printed. Task thread.
    void searchResult(Service* result) override;
    // "Got results. (next,total)".
    void searchEnd(ServiceSearch* search, Node* node, int next, int total) override;

    void downloadAdded(Download* download) override { (void)download; }
    void downloadRemoved(Download* download) override { (void)download; }
    void uploadSlotRemoved(UploadSlot* slot) override { (void)slot; }
    // The download pool's list, or null without a pool.
    LLsafe* downloadList() override;
};
