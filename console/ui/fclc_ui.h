// FclcUI: the console's user interface. It prints through the output
// gateway's base behaviour and receives the core, transfer and overlay
// notifications; the console shows none of them as they happen (the user
// sees transfers, friends and peers through the listing commands).
#pragma once

#include "core/ui/core_ui.h"
#include "core/ui/flock_ui.h"
#include "core/ui/transfer_ui.h"
#include "core/ui/ui_gateway.h"

class FclcUI : public UIGateway, public TransferUI, public FlockUI, public CoreUI {
public:
    FclcUI() = default;
    ~FclcUI() override = default;

    void downloadAdded(Download* download) override { (void)download; }
    void downloadRemoved(Download* download) override { (void)download; }
    void uploadSlotRemoved(UploadSlot* slot) override { (void)slot; }
};
