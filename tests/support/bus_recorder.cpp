#include "support/bus_recorder.h"

#include "core/bus/message_q.h"

namespace support {

BusRecorder::BusRecorder() {
    for (int code = 0; code < kMessageCodeCount; code++) messageQ->setHandler(this, code);
}

void BusRecorder::handle(Message* message) { seen_.push_back(*message); }

std::vector<Message> BusRecorder::take() {
    // Every code has this handler, so each tick delivers one message.
    while (messageQ->tick(0)) {
    }
    std::vector<Message> out;
    out.swap(seen_);
    return out;
}

std::vector<Message> BusRecorder::take(int code) {
    std::vector<Message> out;
    for (const Message& message : take())
        if (message.code == code) out.push_back(message);
    return out;
}

}  // namespace support
