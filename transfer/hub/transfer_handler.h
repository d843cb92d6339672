// TransferHandler: the transfer side's receiver on the message bus. It
// takes MSG_PRIVATE_MESSAGE (22): the user record's message session is
// opened (TransferUI::sessionChanged follows) and the record deleted; and
// MSG_CONNECT_FAILED (35): the record names the address of an outgoing
// peer connection that failed, and every peer-event handler hears of it;
// the record is then deleted.
#pragma once

#include "core/bus/message.h"

class MessageQ;

class TransferHandler : public MessageHandler {
public:
    // Registers for the handler's codes; a null bus is ignored.
    void registerAll(MessageQ* bus);
    // Takes the handler off the bus again (shutdown, tests).
    void unregisterAll(MessageQ* bus);
    void handle(Message* message) override;
};
