#include "core/startup/core_thread.h"

#include <cstdio>

#include "core/bus/message_q.h"
#include "core/net/peer_connector.h"
#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "core/startup/network_setup.h"
#include "core/strings/string_table.h"
#include "v4ada/error/error.h"

namespace {

CoreThread* gCore = nullptr;

// The skin's text for a key the socket pool shows, or null for its
// built-in text. The pool asks on the task thread only; the answer stays
// valid until that thread's next lookup.
const char* skinText(const char* key) {
    XMLStringTable* table = XMLStringTable::instance();
    if (!table) return nullptr;
    thread_local OwnedString text;
    text = table->lookupText(key);
    return text.isEmpty() ? nullptr : text.c_str();
}

}  // namespace

CoreThread* CoreThread::instance() { return gCore; }

void CoreThread::createInstance() {
    if (!gCore) gCore = new CoreThread();
}

void CoreThread::destroyInstance() {
    CoreThread* core = gCore;
    gCore = nullptr;
    delete core;
    clearNetworkProtocol();
}

CoreThread::CoreThread() : handler_(this) {}

CoreThread::~CoreThread() {
    // No step may run while the pool goes.
    finishBody();
    release();
    // The bus may outlive the core: it must not call a handler that is gone.
    if (subscribedBus_ && subscribedBus_ == messageQ) messageQ->setHandler(nullptr, MSG_RELOAD_FILTERS);
}

bool CoreThread::start() {
    build();
    if (!TaskThread::start()) return false;
    setPriority(kCorePriority);
    return true;
}

void CoreThread::build() {
    {
        SysMutexGuard guard(&poolLock_);
        if (socketPool_) return;
    }
    MessageQ* bus = messageQ;
    CoreOptions* options = coreOptions();
    if (!bus) error_at(__FILE__, __LINE__)("CoreThread::start: no message bus");
    if (!options) error_at(__FILE__, __LINE__)("CoreThread::start: no options");

    handler_.subscribe(bus);
    subscribedBus_ = bus;
    startTime_.now();
    if (baseDir_.isEmpty())
        options->load();
    else
        options->loadFrom(baseDir_.c_str());
    rebuildNetworkProtocol(options->proxySettings().get());
    reloadFilters();

    auto pool = std::make_unique<STSocketPool>(options);
    pool->setTextLookup(&skinText);
    // A post on the bus ends the pool's wait and the pause at once.
    pool->setWakeup(wakeup());
    bus->setWakeup(wakeup());
    auto connector = std::make_unique<PeerConnector>(pool.get());
    STSocketPool* task = pool.get();
    {
        SysMutexGuard guard(&poolLock_);
        socketPool_ = std::move(pool);
        peerConnector_ = std::move(connector);
    }
    // Both join at the first step, in this order: every step ticks the
    // pool before the bus.
    addTask(task);
    addTask(bus);
    bus_ = bus;
}

void CoreThread::pause(int ms) {
    STSocketPool* pool = socketPool();
    if (pool == nullptr) {
        TaskThread::pause(ms);
        return;
    }
    // The wait ends early on the wake-up too (the pool watches it).
    pool->waitForWork(ms);
}

bool CoreThread::stop() {
    finishBody();
    bool saved = false;
    if (CoreOptions* options = coreOptions())
        saved = options->save();  // a failure is reported to the user there
    else
        std::fprintf(stderr, "pref.met not saved: the options are gone\n");
    release();
    return saved;
}

void CoreThread::release() {
    // Runs with no body, so the task lists are ours.
    if (bus_) {
        removeTask(bus_);
        bus_->setWakeup(nullptr);  // the bus may outlive this thread
    }
    bus_ = nullptr;
    std::unique_ptr<STSocketPool> pool;
    std::unique_ptr<PeerConnector> connector;
    {
        SysMutexGuard guard(&poolLock_);
        pool = std::move(socketPool_);
        connector = std::move(peerConnector_);
    }
    if (pool) removeTask(pool.get());
    connector.reset();
    // Detaches and deletes every connection still in it.
    pool.reset();
}

void CoreThread::reloadFilters() {
    if (CoreOptions* options = coreOptions()) filters_.load(options->filtersPath().c_str());
}

int CoreThread::connectionCount() {
    SysMutexGuard guard(&poolLock_);
    return socketPool_ ? socketPool_->count() : 0;
}
