// CoreHandler: the core's message handler. It reloads the result filter
// (filters.txt) on MSG_RELOAD_FILTERS; other codes are ignored.
#pragma once

#include "core/bus/message.h"

class MessageQ;

class CoreHandler : public MessageHandler {
public:
    void subscribe(MessageQ* bus);
    void handle(Message* message) override;
};
