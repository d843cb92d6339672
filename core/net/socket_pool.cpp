#include "core/net/socket_pool.h"

#include "core/net/bandwidth_settings.h"
#include "core/net/budgets.h"
#include "core/net/clocked_connection.h"
#include "core/net/net_output.h"
#include "core/net/network_protocol.h"
#include "core/task/task_wakeup.h"
#include "v4ada/error/error.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket.h"
#include "v4ada/net/socket_set.h"
#include "v4ada/string/owned_string.h"

SocketPool::SocketPool() {
    std::shared_ptr<i4_protocol> protocol = networkProtocol();
    if (!protocol) error_at(__FILE__, __LINE__)("SocketPool :prot null");
    socketSet_ = protocol->newSocketSet();
}

SocketPool::~SocketPool() {
    applyPending();
    while (active_.count() > 0) {
        auto connection = static_cast<Connection*>(active_.removeAt(0));
        connection->detach();
    }
    delete socketSet_;
}

void SocketPool::setWakeup(TaskWakeup* wakeup) {
    socketSet_->setWakeDescriptor(wakeup != nullptr ? wakeup->descriptor() : -1);
}

void SocketPool::add(Connection* connection) {
    if (connection == nullptr) return;
    SysMutexGuard guard(&addLock_);
    if (pendingAdds_.contains(connection)) return;
    pendingAdds_.append(connection);
    count_++;
}

void SocketPool::remove(Connection* connection) {
    if (connection == nullptr) return;
    SysMutexGuard guard(&removeLock_);
    if (!pendingRemoves_.contains(connection)) pendingRemoves_.append(connection);
}

void SocketPool::applyPending() {
    {
        SysMutexGuard guard(&addLock_);
        while (pendingAdds_.count() > 0) {
            auto connection = static_cast<Connection*>(pendingAdds_.removeAt(0));
            if (active_.contains(connection)) {
                count_--;
                continue;
            }
            // One without a socket cannot be served (and, never attached,
            // cannot even ask to leave): it goes at once.
            if (!connection->attach(this)) {
                count_--;
                connection->detach();
                continue;
            }
            active_.append(connection);
        }
    }
    SysMutexGuard guard(&removeLock_);
    while (pendingRemoves_.count() > 0) {
        auto connection = static_cast<Connection*>(pendingRemoves_.removeAt(0));
        // Only what the pool holds is let go: an unknown or stale pointer
        // is not ours to delete. A connection added by another thread since
        // the additions above were joined is still pending; it goes now.
        if (!active_.remove(connection)) {
            SysMutexGuard addGuard(&addLock_);
            if (!pendingAdds_.remove(connection)) continue;
        }
        count_--;
        leaving(connection);
        connection->detach();
    }
}

void SocketPool::dump() {
    int position = 1;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&active_, &cursor)) {
        OwnedString text;
        const char* status = static_cast<Connection*>(element)->status(text);
        net_print("(%d) %s", position++, status);
    }
}

void SocketPool::sumAverages(double* receive, double* send) {
    double in = 0.0;
    double out = 0.0;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&active_, &cursor)) {
        if (auto* clocked = dynamic_cast<ClockedConnection*>(static_cast<Connection*>(element))) {
            in += clocked->receiveAverage();
            out += clocked->sendAverage();
        }
    }
    if (receive) *receive = in;
    if (send) *send = out;
}

STSocketPool::STSocketPool(BandwidthSettings* settings) : settings_(settings) {
    for (int i = 0; i < kRateRing; i++) {
        upRing_[i] = settings_->maxUpSpeed();
        downRing_[i] = settings_->maxDownSpeed();
    }
}

void STSocketPool::leaving(Connection* connection) {
    auto clocked = dynamic_cast<ClockedConnection*>(connection);
    if (clocked == nullptr) return;
    removedSent_ += clocked->totalSent();
    removedReceived_ += clocked->totalReceived();
}

void STSocketPool::applyPending() { SocketPool::applyPending(); }

bool STSocketPool::tick(int elapsedMs) {
    bool worked = false;
    try {
        msSinceService_ += elapsedMs;
        int ready;
        if (waited_) {
            ready = waitResult_;
            waited_ = false;
        } else {
            ready = socketSet_->wait(kWaitMs);
        }
        if (ready > 0) {
            waitFailing_ = false;
            setReadBudget(budgetForService(settings_->downloadLimit(), msSinceService_, &readCarry_));
            setWriteBudget(budgetForService(settings_->uploadLimit(), msSinceService_, &writeCarry_));
            msSinceAverage_ += msSinceService_;
            if (msSinceAverage_ > kAverageEveryMs) {
                averageRates();
                msSinceAverage_ = 0;
            }
            worked = service(elapsedMs);
            carryUnspent(settings_->downloadLimit(), readBudget(), &readCarry_);
            carryUnspent(settings_->uploadLimit(), writeBudget(), &writeCarry_);
            msSinceService_ = 0;
        } else if (ready == 0) {
            waitFailing_ = false;
            LLNode* cursor = nullptr;
            while (void* element = LL::walk(&active_, &cursor)) static_cast<Connection*>(element)->tick(elapsedMs);
        } else {
            reportWaitFailure();
        }
        applyPending();
    } catch (i4_err&) {
        debug_printf("*** Exception in stsocketpool::run()\n");
    }
    return worked;
}

void STSocketPool::waitForWork(int ms) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&active_, &cursor)) static_cast<Connection*>(element)->refreshWatch();
    // After a service that spent a limited budget, the socket waits for the
    // time that brings the next one; readiness on that side cannot help.
    // Once that time has passed, the side is waited on again whether or not
    // a service followed: traffic that stopped (a paused or cancelled
    // transfer) leaves the budget spent, but not the pause short.
    int mask = kReadable | kWritable | kReadyError;
    if (spentFor(settings_->downloadLimit(), readBudget(), readCarry_)) mask &= ~kReadable;
    if (spentFor(settings_->uploadLimit(), writeBudget(), writeCarry_)) mask &= ~kWritable;
    socketSet_->setMask(mask);
    // The time alone brings the next budget: the wait is no longer than a
    // busy pause, whatever the step chose.
    if (mask != (kReadable | kWritable | kReadyError) && ms > kSpentWaitMs) ms = kSpentWaitMs;
    waitResult_ = socketSet_->wait(ms);
    if (mask != (kReadable | kWritable | kReadyError)) {
        // The time has brought a new budget: what is ready now is served.
        socketSet_->setMask(kReadable | kWritable | kReadyError);
        if (waitResult_ >= 0) waitResult_ = socketSet_->wait(0);
    }
    waited_ = true;
}

bool STSocketPool::spentFor(double limit, int32_t budget, double carry) const {
    if (limit == 0.0 || budget > 0) return false;
    // What the next service would get, without taking it.
    return budgetForService(limit, msSinceService_, &carry) <= 0;
}

void STSocketPool::reportWaitFailure() {
    int code = socket_last_error();
    if (waitFailing_ && code == lastWaitError_) return;
    waitFailing_ = true;
    lastWaitError_ = code;
    const char* text = lookup_ != nullptr ? lookup_("socketSetProb") : nullptr;
    if (text == nullptr)
        net_print("ERROR(%d) problem with socket set. Try reducing max connections", code);
    else
        net_print("ERROR(%d) %s", code, text);
}

bool STSocketPool::service(int elapsedMs) {
    float up = 0.0f;
    float down = 0.0f;
    uint64_t sent = removedSent_;
    uint64_t received = removedReceived_;
    bool worked = false;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&active_, &cursor)) {
        auto connection = static_cast<Connection*>(element);
        connection->tick(elapsedMs);
        if (connection->doTask()) worked = true;
        if (auto clocked = dynamic_cast<ClockedConnection*>(connection)) {
            up += static_cast<float>(clocked->sendAverage());
            down += static_cast<float>(clocked->receiveAverage());
            sent += clocked->totalSent();
            received += clocked->totalReceived();
        }
    }
    currentUpRate_ = up;
    currentDownRate_ = down;
    totalSent_ = sent;
    totalReceived_ = received;
    if (active_.count() > 1) active_.append(active_.removeAt(0));
    return worked;
}

namespace {
// One side of the averaging: the new peak speed from the current rate.
double foldRate(double peak, double current, double* ring, int32_t* index) {
    double sample = current;
    if (peak > current) sample = static_cast<float>((current + 3.0 * peak) / 4.0);
    ring[*index] = sample;
    *index = (*index + 1) % STSocketPool::kRateRing;
    double sum = 0.0;
    for (int i = 0; i < STSocketPool::kRateRing; i++) sum += ring[i];
    double average = static_cast<float>(sum / 8.0);
    return current > average ? current : average;
}
}  // namespace

void STSocketPool::averageRates() {
    double down = settings_->currentDownRate();
    if (down != 0.0) settings_->setMaxDownSpeed(foldRate(settings_->maxDownSpeed(), down, downRing_, &downIndex_));
    double up = settings_->currentUpRate();
    if (up != 0.0) settings_->setMaxUpSpeed(foldRate(settings_->maxUpSpeed(), up, upRing_, &upIndex_));
}
