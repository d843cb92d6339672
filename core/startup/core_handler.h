// CoreHandler: the core's bus handler. MSG_RELOAD_FILTERS (no data) has
// the core re-read filters.txt; any other code is ignored.
#pragma once

#include "core/bus/message.h"

class CoreThread;
class MessageQ;

class CoreHandler : public MessageHandler {
public:
    explicit CoreHandler(CoreThread* core) : core_(core) {}

    // Registers for MSG_RELOAD_FILTERS; a null bus is ignored.
    void subscribe(MessageQ* bus);
    void handle(Message* message) override;

private:
    CoreThread* core_;
};
