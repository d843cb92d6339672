#include "core/bus/message_q.h"

#include <memory>

#include "core/ui/ui_gateway.h"

MessageQ* messageQ = nullptr;

namespace {

// The bus's debug lines, shown by the active gateway in verbose mode.
void bus_debug(const char* format, int code) {
    if (UIGateway* ui = currentUI()) ui->debug(format, code);
}

bool valid_code(int code) { return code >= 0 && code < kMessageCodeCount; }

}  // namespace

MessageQ::MessageQ() {
    for (MessageHandler*& handler : handlers) handler = nullptr;
}

MessageQ::~MessageQ() {
    void* element;
    while ((element = queue.removeAt(0)) != nullptr) delete static_cast<Message*>(element);
}

void MessageQ::post(int code, void* data, bool urgent) {
    if (!valid_code(code)) {
        bus_debug("Message code out of range: %d\n", code);
        return;
    }
    Message* message = new Message{code, data};
    if (urgent)
        queue.prepend(message);
    else
        queue.append(message);
    wake();
}

void MessageQ::wake() {
    if (TaskWakeup* wakeup = wakeup_.load()) wakeup->signal();
}

void MessageQ::setHandler(MessageHandler* handler, int code) {
    if (!valid_code(code)) {
        bus_debug("Message code out of range: %d\n", code);
        return;
    }
    handlers[code] = handler;
}

MessageHandler* MessageQ::handlerOf(int code) const { return valid_code(code) ? handlers[code] : nullptr; }

bool MessageQ::tick(int /*elapsedMs*/) {
    // Posts so far are in the queue now; a later one signals again.
    if (TaskWakeup* wakeup = wakeup_.load()) wakeup->drain();
    // Taken off the queue first: the handler runs without the queue's lock
    // and may post, and the record goes even when the handler throws.
    std::unique_ptr<Message> message(static_cast<Message*>(queue.removeAt(0)));
    if (!message) return false;

    // One message per tick; the next step comes at once for the rest.
    if (queue.count() > 0) wake();
    MessageHandler* handler = handlers[message->code];
    if (!handler) {
        bus_debug("Message Handler not found: %d\n", message->code);
        return false;
    }
    handler->handle(message.get());
    return true;
}

void MessageQ::discardPending(MessageHandler* handler) {
    if (!handler) return;
    LL taken;
    {
        LLsafeGuard hold(&queue);
        LL kept;
        while (void* element = queue.LL::removeAt(0)) {
            auto* message = static_cast<Message*>(element);
            (handlers[message->code] == handler ? taken : kept).append(message);
        }
        while (void* element = kept.removeAt(0)) queue.LL::append(element);
    }
    while (void* element = taken.removeAt(0)) {
        std::unique_ptr<Message> message(static_cast<Message*>(element));
        handler->discard(message.get());
    }
}

void message_bus_create() {
    if (!messageQ) messageQ = new MessageQ;
}

void message_bus_destroy() {
    delete messageQ;
    messageQ = nullptr;
}
