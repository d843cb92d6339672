// BusRecorder: makes the process-wide message bus for its life and keeps
// every message posted on it instead of handling it, so a test can look at
// what code posted what.
//
//   BusRecorder bus;
//   run_something();
//   for (const Message& m : bus.take(MSG_RESCHEDULE)) ...
//
// The messages' data stays with the test: whoever takes a message frees
// its object.
#pragma once

#include <vector>

#include "core/bus/message.h"
#include "support/process_objects.h"

namespace support {

class BusRecorder : public MessageHandler {
public:
    BusRecorder();
    BusRecorder(const BusRecorder&) = delete;
    BusRecorder& operator=(const BusRecorder&) = delete;

    void handle(Message* message) override;
    // The messages posted so far, oldest first; forgets them.
    std::vector<Message> take();
    // The same, only those of one code; the others are forgotten.
    std::vector<Message> take(int code);

private:
    ProcessObjects process_{ProcessObjects::kBus};
    std::vector<Message> seen_;
};

}  // namespace support
