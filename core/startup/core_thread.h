// CoreThread: the system's task thread together with what every subsystem
// shares at run time: the socket pool, the peer connector, the result
// filter and the start time.
//
// Start-up (start), in this order: the core's bus handler subscribes, the
// start time is stamped, the options load pref.met, the network protocol is
// built from the proxy settings, filters.txt loads, the socket pool and the
// peer connector are made, the pool and then the bus join the task list (so
// every step ticks the pool before the bus), and the task thread begins.
// The application entry registers the command interpreter on the bus before
// it calls start.
//
// Shutdown: join stops the task thread; stop then saves pref.met and
// deletes the connector and the pool with every connection still in it.
//
// The process-wide instance is made and destroyed explicitly
// (createInstance / destroyInstance); the bus and the options must exist
// from start to stop, and the options outlive the core.
#pragma once

#include <atomic>
#include <memory>

#include "core/filter/filter_master.h"
#include "core/startup/core_handler.h"
#include "core/task/task_thread.h"
#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"
#include "v4ada/time/time_value.h"

class CoreUI;
class MessageQ;
class PeerConnector;
class STSocketPool;

class CoreThread : public TaskThread {
public:
    // The priority the core asks for (no effect on this platform).
    static constexpr int kCorePriority = 3;

    CoreThread();
    // Stops the task thread, deletes a pool and connector that stop did
    // not delete, and takes the core's handler off the bus.
    ~CoreThread() override;

    static CoreThread* instance();
    // Keeps an existing instance.
    static void createInstance();
    // Deletes the instance and empties the network protocol holder.
    static void destroyInstance();

    // Main thread: build, then the task thread begins its steps. Once the
    // core is built a further start only restarts the task thread.
    bool start() override;
    // Start-up steps without starting the task thread (start calls it; a
    // test may then drive the steps itself). Raises an i4_err when the bus
    // or the options are missing, or when pref.met exists but cannot be
    // read (CoreOptions::load). Does nothing when already built.
    void build();
    // Main thread, after the task thread has stopped (it is stopped here
    // when it still runs) and after every connect thread has ended (they
    // use the connector and the pool). Saves pref.met, then deletes the
    // connector and the pool. False when pref.met could not be saved; the
    // options record has reported it to the user.
    bool stop();

    // Re-reads filters.txt from the options' filters path.
    void reloadFilters();
    // The filter list is never written back.
    void saveFilters() {}

    // The pool's connections, pending additions included; 0 without a
    // pool. Any thread.
    int connectionCount();

    // Base directory for pref.met and filters.txt; empty (the default)
    // means the current directory. Set before start (tests).
    void setBaseDirectory(const char* dir) { baseDir_ = dir; }

    // Null before start and after stop. Any thread; the objects stay until
    // stop, which runs once every other thread has ended.
    STSocketPool* socketPool() const {
        SysMutexGuard guard(&poolLock_);
        return socketPool_.get();
    }
    PeerConnector* peerConnector() const {
        SysMutexGuard guard(&poolLock_);
        return peerConnector_.get();
    }
    FilterMaster* filters() { return &filters_; }
    const TimeValue& startTime() const { return startTime_; }

    // The active receiver of the core's notifications (not owned).
    void setUI(CoreUI* ui) { ui_.store(ui); }
    CoreUI* ui() const { return ui_.load(); }

protected:
    // The pause between steps is the socket pool's wait on its sockets
    // (with the same time-out), so data that arrives is served at once.
    void pause(int ms) override;

private:
    void release();

    mutable SysMutex poolLock_;  // socketPool_ against readers on other threads
    // Made in this order by build; the connector goes first (it uses the pool).
    std::unique_ptr<STSocketPool> socketPool_ TS_GUARDED_BY(poolLock_);
    std::unique_ptr<PeerConnector> peerConnector_ TS_GUARDED_BY(poolLock_);
    FilterMaster filters_;
    TimeValue startTime_;
    CoreHandler handler_;
    MessageQ* bus_ = nullptr;            // the bus joined to the task list
    MessageQ* subscribedBus_ = nullptr;  // the bus the handler is on
    OwnedString baseDir_;
    std::atomic<CoreUI*> ui_{nullptr};
};

inline CoreThread* coreThread() { return CoreThread::instance(); }
