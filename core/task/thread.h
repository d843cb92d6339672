// Thread: an operating-system thread with a small stop protocol.
//
// The body runs onStart, then calls run again and again until a stop is
// requested, then onExit (unless another thread is waiting for the stop in
// stopAndWait). run is called at least once per start.
//
// States: 2 stopped (no body), 0 running, 1 stop requested (the body ends
// after the step in progress). start from 1 withdraws the request and the
// same body goes on.
//
// The owner must not destroy a Thread while its body runs; a subclass whose
// body may still be running calls finishBody from its destructor.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "v4ada/threads/linux/sys_mutex.h"

class Thread {
public:
    static constexpr int32_t kRunning = 0;
    static constexpr int32_t kStopRequested = 1;
    static constexpr int32_t kStopped = 2;
    // Stack size handed to thread_spawn (the platform ignores it).
    static constexpr int kStackSize = 51200;
    // How often stopAndWait looks whether the body has ended.
    static constexpr int kStopPollMs = 10;

    Thread() = default;
    virtual ~Thread() = default;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Stopped: spawns a new body. Stop requested: withdraws the request.
    // Running: nothing. When no thread can be created the state stays
    // stopped and the result is false; otherwise a body runs and it is true.
    virtual bool start();
    // The body leaves its loop after the step in progress.
    void requestStop();
    // Only when running: requests the stop and returns once the body has
    // left its loop; onExit is then not called. Otherwise returns once a
    // body that stopped itself has finished its onExit (at once when none
    // is left), so the owner may destroy the object afterwards.
    void stopAndWait();
    void join() { stopAndWait(); }
    // Thread priorities are not used on this platform; 0 means no error.
    int setPriority(int level);

    int32_t currentState();

protected:
    // Runs first on the new thread.
    virtual void onStart() {}
    // Runs on the thread after the last step unless someone waits for the
    // stop. An implementation may delete its own object here.
    virtual void onExit() {}
    // One step of work.
    virtual void run() = 0;

    // Waits until no body runs, whatever the state: requests the stop if
    // needed and keeps onExit from being called; a body that stopped
    // itself is waited for until its onExit is over. For destructors.
    void finishBody();

    SysMutex mutex;
    int32_t state TS_GUARDED_BY(mutex) = kStopped;
    int32_t handle TS_GUARDED_BY(mutex) = 0;
    bool waiting TS_GUARDED_BY(mutex) = false;

private:
    static void entry(void* self);
    void body();
    void waitUntilStopped();
    // Waits until the body of that latch has made its last access to the
    // object (null: no body was ever spawned).
    static void waitForBodyExit(const std::shared_ptr<std::atomic<bool>>& left);

    // Set by the last body spawned once it no longer touches the object
    // (after its onExit); shared so that it outlives an object that
    // deletes itself in onExit. Guarded by mutex.
    std::shared_ptr<std::atomic<bool>> bodyLeft_;
};
