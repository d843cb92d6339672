// FclcHandler: the console's message handler. On MSG_LOAD_STATE (posted
// once at start-up) it runs the start-up loads on the task thread (result
// filters, then the transfer hub's files, shares and door, then the
// remote-control settings) and then tells the core user interface that
// start-up is done; on MSG_SAVE_STATE it runs the matching savers.
#pragma once

#include "core/bus/message.h"

class MessageQ;

class FclcHandler : public MessageHandler {
public:
    void subscribe(MessageQ* bus);
    void handle(Message* message) override;
};
