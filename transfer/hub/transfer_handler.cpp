#include "transfer/hub/transfer_handler.h"

#include "core/bus/message_q.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"

void TransferHandler::registerAll(MessageQ* bus) {
    if (bus) bus->setHandler(this, MSG_CONNECT_FAILED);
}

void TransferHandler::unregisterAll(MessageQ* bus) {
    if (bus) bus->setHandler(nullptr, MSG_CONNECT_FAILED);
}

void TransferHandler::handle(Message* message) {
    if (!message) return;
    switch (message->code) {
        case MSG_CONNECT_FAILED: {
            auto record = static_cast<ConnectFailedRecord*>(message->data);
            if (!record) return;
            // The port stays unsigned 16-bit: ports from 32768 on must match
            // their pending attempt.
            if (ClientPool* pool = clientPool()) pool->notifyConnectFailed(record->ip, record->port);
            delete record;
            break;
        }
        default:
            break;
    }
}
