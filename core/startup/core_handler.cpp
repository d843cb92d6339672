#include "core/startup/core_handler.h"

#include "core/bus/message_q.h"
#include "core/startup/core_thread.h"

void CoreHandler::subscribe(MessageQ* bus) {
    if (bus) bus->setHandler(this, MSG_RELOAD_FILTERS);
}

void CoreHandler::handle(Message* message) {
    if (message && message->code == MSG_RELOAD_FILTERS && core_) core_->reloadFilters();
}
