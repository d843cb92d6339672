// Message: one piece of work posted on the bus, and MessageHandler, the
// receiver registered for its code.
#pragma once

#include <cstdint>

struct Message {
    int32_t code;  // a MessageCode, 0 to 255
    void* data;    // the code's object or null; owned by the code's handler
};

class MessageHandler {
public:
    // Called on the task thread with a message of a code the handler
    // registered for. The bus deletes the record afterwards, never data.
    virtual void handle(Message* message) = 0;
    // A message of its code that will never be handled (shutdown): the
    // handler frees what it would have owned. The default frees nothing.
    virtual void discard(Message* message) { (void)message; }

protected:
    // Handlers are never deleted through this interface.
    ~MessageHandler() = default;
};
