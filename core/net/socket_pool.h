// SocketPool: owns and serves every connection. Connections join and leave
// through two locked pending lists, so any thread may add or remove one;
// the task thread applies them between ticks. STSocketPool is the pool the
// core runs: it waits for ready sockets, hands out the byte budgets, serves
// the connections in rotating order and keeps the rates and byte totals.
// Its wait doubles as the task thread's pause between steps (waitForWork).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/task/time_slice_task.h"
#include "v4ada/containers/ll.h"
#include "v4ada/threads/linux/sys_mutex.h"

class BandwidthSettings;
class Connection;
class TaskWakeup;
class i4_protocol;
class i4_socket_set;

class SocketPool : public TimeSliceTask {
public:
    // The socket set comes from networkProtocol; without one an i4_err
    // "SocketPool :prot null" is raised.
    SocketPool();
    SocketPool(const SocketPool&) = delete;
    SocketPool& operator=(const SocketPool&) = delete;
    // Applies pending changes, then detaches (deletes) every connection.
    virtual ~SocketPool();

    bool tick(int elapsedMs) override = 0;
    // Joins the pending additions (one that cannot be attached, having no
    // socket, is deleted at once), then lets the pending removals go.
    // removeLock is taken before addLock where both are held.
    virtual void applyPending();

    // Any thread. The pool owns the connection from here on; null is
    // ignored, a connection pending already is listed once.
    void add(Connection* connection);
    // Any thread, also the connection itself while it is served: it stays
    // valid until the next applyPending. Only connections the pool holds
    // are let go; an unknown pointer is ignored.
    void remove(Connection* connection);

    // Connections active or pending addition. Any thread.
    int count() const { return count_.load(); }
    // "(%d) %s": position and status of each active connection.
    void dump();
    // The sums of the active connections' receive and send averages
    // (bytes per ms) of those that measure them. Task thread.
    void sumAverages(double* receive, double* send);

    i4_socket_set* socketSet() const { return socketSet_; }
    // The wake-up of the task thread ticking the pool: its signal ends the
    // pool's wait for ready sockets at once (null: none). Task thread, or
    // before the pool is ticked.
    void setWakeup(TaskWakeup* wakeup);
    // Task thread only.
    int activeCount() { return active_.count(); }
    bool isActive(Connection* connection) { return active_.contains(connection); }

protected:
    // A connection leaving the pool, just before it is detached.
    virtual void leaving(Connection*) {}

    SysMutex addLock_;
    SysMutex removeLock_ TS_ACQUIRED_BEFORE(addLock_);  // taken before addLock_ where both are held
    LL pendingAdds_ TS_GUARDED_BY(addLock_);
    LL pendingRemoves_ TS_GUARDED_BY(removeLock_);
    LL active_;  // task thread only
    i4_socket_set* socketSet_ = nullptr;
    std::atomic<int> count_{0};
};

class STSocketPool : public SocketPool {
public:
    static constexpr int kWaitMs = 100;
    static constexpr int kAverageEveryMs = 4000;
    static constexpr int kRateRing = 8;
    // The longest pause with a side left out for its spent budget.
    static constexpr int kSpentWaitMs = 5;

    // Texts shown to the user by key (the skin's string table); null or a
    // null answer keeps the built-in text.
    using TextLookup = const char* (*)(const char* key);

    // The rings start at the settings' peak speeds.
    explicit STSocketPool(BandwidthSettings* settings);

    bool tick(int elapsedMs) override;
    void applyPending() override;

    void setTextLookup(TextLookup lookup) { lookup_ = lookup; }

    // The task thread's pause between steps: waits at most ms for a
    // socket to become ready (or the wake-up), so that data is served the
    // moment it arrives. The next tick serves what this wait found instead
    // of waiting again. A side whose byte budget the last service spent is
    // left out of the wait, so a limit cannot turn it into a busy loop; that
    // wait lasts at most kSpentWaitMs, since the time alone brings the next
    // budget (a step that did no other work would wait 50 ms and leave the
    // limit unused). Once the ticks since that service bring a byte, the
    // side is no longer spent and the pause is the step's own again, even
    // when no socket became ready. Task thread.
    void waitForWork(int ms);

    double currentUpRate() const { return currentUpRate_; }
    double currentDownRate() const { return currentDownRate_; }
    uint64_t totalSent() const { return totalSent_; }
    uint64_t totalReceived() const { return totalReceived_; }

    // Folds the settings' current rates into the peak speeds (run every
    // kAverageEveryMs of serviced time).
    void averageRates();

protected:
    void leaving(Connection* connection) override;

private:
    bool service(int elapsedMs);
    void reportWaitFailure();
    // Whether a side with this limit and budget has nothing to move until
    // more time passes: the limited budget was spent and the time since the
    // last service has not brought a byte of the next.
    bool spentFor(double limit, int32_t budget, double carry) const;

    BandwidthSettings* settings_;
    TextLookup lookup_ = nullptr;
    int64_t msSinceService_ = 0;
    int64_t msSinceAverage_ = 0;
    uint64_t removedSent_ = 0;
    uint64_t removedReceived_ = 0;
    double upRing_[kRateRing];
    int32_t upIndex_ = 0;
    double downRing_[kRateRing];
    int32_t downIndex_ = 0;
    double currentUpRate_ = 0.0;
    double currentDownRate_ = 0.0;
    uint64_t totalSent_ = 0;
    uint64_t totalReceived_ = 0;
    // Carried to the next service: fractions of a byte and the unspent
    // bytes carryUnspent keeps.
    double readCarry_ = 0.0;
    double writeCarry_ = 0.0;
    // The result of waitForWork, for the tick that follows it.
    bool waited_ = false;
    int waitResult_ = 0;
    // A failing wait is reported once per distinct error code.
    bool waitFailing_ = false;
    int lastWaitError_ = 0;
};
