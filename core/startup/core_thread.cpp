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
    if (socketPool_) return;
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
    setNetworkProtocol(options->proxySettings());
    reloadFilters();

    auto pool = new STSocketPool(options);
    pool->setTextLookup(&skinText);
    auto connector = new PeerConnector(pool);
    {
        SysMutexGuard guard(&poolLock_);
        socketPool_ = pool;
        peerConnector_ = connector;
    }
    // Both join at the first step, in this order: every step ticks the
    // pool before the bus.
    addTask(pool);
    addTask(bus);
    bus_ = bus;
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
    if (bus_) removeTask(bus_);
    bus_ = nullptr;
    STSocketPool* pool;
    PeerConnector* connector;
    {
        SysMutexGuard guard(&poolLock_);
        pool = socketPool_;
        connector = peerConnector_;
        socketPool_ = nullptr;
        peerConnector_ = nullptr;
    }
    if (pool) removeTask(pool);
    delete connector;
    // Detaches and deletes every connection still in it.
    delete pool;
}

void CoreThread::reloadFilters() {
    if (CoreOptions* options = coreOptions()) filters_.load(options->filtersPath().c_str());
}

int CoreThread::connectionCount() {
    SysMutexGuard guard(&poolLock_);
    return socketPool_ ? socketPool_->count() : 0;
}
