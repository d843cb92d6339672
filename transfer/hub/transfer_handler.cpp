#include "transfer/hub/transfer_handler.h"

#include <memory>

#include "core/bus/message_q.h"
#include "core/meta/user_meta.h"
#include "core/ui/transfer_ui.h"
#include "transfer/messages/message_pool.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"

void TransferHandler::registerAll(MessageQ* bus) {
    if (!bus) return;
    bus->setHandler(this, MSG_PRIVATE_MESSAGE);
    bus->setHandler(this, MSG_CONNECT_FAILED);
}

void TransferHandler::unregisterAll(MessageQ* bus) {
    if (!bus) return;
    bus->setHandler(nullptr, MSG_PRIVATE_MESSAGE);
    bus->setHandler(nullptr, MSG_CONNECT_FAILED);
}

void TransferHandler::handle(Message* message) {
    if (!message) return;
    switch (message->code) {
        case MSG_PRIVATE_MESSAGE: {
            std::unique_ptr<UserMeta> user(static_cast<UserMeta*>(message->data));
            MessagePool* messages = messagePool();
            if (!user || !messages) return;
            MessageSession* session = messages->openSession(user.get());
            if (TransferUI* ui = currentTransferUI()) ui->sessionChanged(session);
            break;
        }
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
