// CoreThread: the system's task thread together with what every subsystem
// shares at run time: the result filter, the start time, the core's bus
// handler and the core's user-interface receiver.
//
// Start-up (start): the core handler subscribes, the options and pref.met
// load, the network protocol is built from the proxy settings, the filters
// load, the socket pool and the peer connector are made, the socket pool
// and the message bus join the task list (in this order) and the task
// thread begins its steps. Shutdown: join stops the task thread, then stop
// saves the options and deletes the connector and the pool.
//
// The process-wide instance is made and destroyed explicitly
// (createInstance / destroyInstance); the message bus and the options must
// exist while it runs.
#pragma once

#include <atomic>

#include "core/core_handler.h"
#include "core/filter/filter_master.h"
#include "core/task/task_thread.h"
#include "v4ada/time/time_value.h"

class CoreUI;
class PeerConnector;
class STSocketPool;

class CoreThread : public TaskThread {
public:
    // The priority level the core asks for (no effect on this platform).
    static constexpr int kCorePriority = 3;

    CoreThread();
    ~CoreThread() override;

    static CoreThread* instance();
    // Keeps an existing instance.
    static void createInstance();
    // Stops a running task thread first.
    static void destroyInstance();

    // Builds and starts the core (main thread): the task thread begins its
    // steps at the end.
    void start() override;
    // Saves the options, then deletes the peer connector and the socket
    // pool with its connections; called after the task thread has stopped.
    void stop();
    void reloadFilters();
    // The filter list is never written back.
    void saveFilters() {}

    FilterMaster* filters() { return &filters_; }
    STSocketPool* socketPool() const { return socketPool_; }
    PeerConnector* peerConnector() const { return peerConnector_; }
    // Connections of the socket pool, pending additions included.
    int connectionCount() const;
    const TimeValue& startTime() const { return startTime_; }

    void setUI(CoreUI* ui) { ui_.store(ui); }
    CoreUI* ui() const { return ui_.load(); }

private:
    STSocketPool* socketPool_ = nullptr;
    PeerConnector* peerConnector_ = nullptr;
    FilterMaster filters_;
    TimeValue startTime_;
    CoreHandler handler_;
    std::atomic<CoreUI*> ui_{nullptr};
};

inline CoreThread* coreThread() { return CoreThread::instance(); }
