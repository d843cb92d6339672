#include "console/ui/fclc_handler.h"

#include "console/remote/admin_settings.h"
#include "core/bus/message_q.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "core/ui/core_ui.h"
#include "overlay/gateway/flock_gateway.h"
#include "transfer/hub/transfer_gateway.h"

void FclcHandler::subscribe(MessageQ* bus) {
    if (!bus) return;
    bus->setHandler(this, MSG_LOAD_STATE);
    bus->setHandler(this, MSG_SAVE_STATE);
}

void FclcHandler::handle(Message* message) {
    if (!message) return;
    CoreThread* core = coreThread();
    switch (message->code) {
        case MSG_LOAD_STATE:
            if (core) core->reloadFilters();
            if (TransferGateway* transfer = transferGateway()) transfer->load();
            if (FlockGateway* overlay = flockGateway()) overlay->load();
            if (AdminSettings* admin = adminSettings()) admin->load(coreOptions());
            if (core)
                if (CoreUI* ui = core->ui()) ui->startupDone();
            break;
        case MSG_SAVE_STATE:
            if (core) core->saveFilters();
            if (TransferGateway* transfer = transferGateway()) transfer->save();
            if (FlockGateway* overlay = flockGateway()) overlay->save();
            if (AdminSettings* admin = adminSettings()) admin->save(coreOptions());
            break;
        default:
            break;
    }
}
