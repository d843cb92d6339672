// TaskWakeup: ends the task thread's waits early when work arrives from
// another thread. Any thread signals it (a bus post); the task thread
// waits on it in its pause between steps, and the socket pool's poll
// watches its descriptor, so a message is handled within the step it
// arrives in rather than after the pool's poll time-out and the pause.
// The timers' cadence is unchanged: without a signal every wait lasts as
// long as before.
#pragma once

class TaskWakeup {
public:
    TaskWakeup();
    ~TaskWakeup();
    TaskWakeup(const TaskWakeup&) = delete;
    TaskWakeup& operator=(const TaskWakeup&) = delete;

    // Any thread (also a signal handler): the current or next wait ends.
    void signal();
    // Task thread, by the consumer of the signalled work (the bus, right
    // before it looks at its queue): forgets the signals so far, whose work
    // it is about to pick up. Until then every wait ends at once.
    void drain();
    // Waits up to ms (0: only looks); true when signalled meanwhile (the
    // signal is kept for drain).
    bool wait(int ms);
    // Readable while signalled; -1 when none could be made (the waits then
    // simply last their time).
    int descriptor() const { return fd_; }

private:
    int fd_;
};
