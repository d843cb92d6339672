#include "core/core_handler.h"

#include "core/bus/message_q.h"
#include "core/core_thread.h"

void CoreHandler::subscribe(MessageQ* bus) {
    if (bus) bus->setHandler(this, MSG_RELOAD_FILTERS);
}

void CoreHandler::handle(Message* message) {
    if (!message || message->code != MSG_RELOAD_FILTERS) return;
    if (CoreThread* core = coreThread()) core->reloadFilters();
}
