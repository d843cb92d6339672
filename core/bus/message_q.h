// MessageQ: the message bus. Any thread posts a message (code and object)
// to a locked queue; the bus is a task of the task thread and hands one
// message per tick, oldest first, to the handler registered for its code.
// A message whose code has no handler is dropped with a debug line (its
// data is not freed).
//
// The process has one bus, messageQ, made and destroyed explicitly by
// start-up and shutdown.
#pragma once

#include <atomic>

#include "core/bus/message.h"
#include "core/bus/message_codes.h"
#include "core/task/task_wakeup.h"
#include "core/task/time_slice_task.h"
#include "v4ada/containers/ll_safe.h"

class MessageQ : public TimeSliceTask {
public:
    MessageQ();
    // Deletes the queued records (not their data).
    virtual ~MessageQ();
    MessageQ(const MessageQ&) = delete;
    MessageQ& operator=(const MessageQ&) = delete;

    // Any thread. Urgent puts the message at the head of the queue. A code
    // outside 0..255 is refused with a debug line (verbose mode).
    void post(int code, void* data, bool urgent = false);
    // Registers (or replaces) the handler of a code; not owned. Done before
    // the task thread handles that code. A code outside 0..255 is refused
    // with a debug line (verbose mode).
    void setHandler(MessageHandler* handler, int code);
    // The handler of a code; null when none (or the code is out of range).
    MessageHandler* handlerOf(int code) const;
    // Handles the oldest message; false when there was none or it had no
    // handler. The elapsed time is not used. With messages left it signals
    // the wake-up, so the next step follows at once.
    bool tick(int elapsedMs) override;
    // Takes every queued message of the handler's codes off the queue and
    // hands it to its discard, oldest first (shutdown, once the task
    // thread has stopped, before the handler goes).
    void discardPending(MessageHandler* handler);

    // The wake-up of the task thread that ticks the bus (null: none): every
    // post signals it and each tick drains it before looking at the queue.
    // Set before other threads post; cleared before the wake-up goes.
    void setWakeup(TaskWakeup* wakeup) { wakeup_.store(wakeup); }

private:
    void wake();

    LLsafe queue;
    std::atomic<TaskWakeup*> wakeup_{nullptr};
    MessageHandler* handlers[kMessageCodeCount];
};

// The process-wide bus; null outside start-up .. shutdown.
extern MessageQ* messageQ;
// Makes messageQ (once; a second call keeps the one there is).
void message_bus_create();
// Destroys messageQ (with any queued records) and sets it to null.
void message_bus_destroy();
