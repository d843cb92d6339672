#include "core/core_thread.h"

#include <memory>

#include "core/bus/message_q.h"
#include "core/net/network_protocol.h"
#include "core/net/peer_connector.h"
#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "v4ada/net/protocol.h"

namespace {

// Constant-initialised: no constructor runs before main.
std::atomic<CoreThread*> gCore{nullptr};

}  // namespace

CoreThread::CoreThread() = default;

CoreThread::~CoreThread() {
    // No tick may run while the pool goes.
    finishBody();
    delete peerConnector_;
    delete socketPool_;
}

CoreThread* CoreThread::instance() { return gCore.load(); }

void CoreThread::createInstance() {
    if (gCore.load()) return;
    gCore.store(new CoreThread());
}

void CoreThread::destroyInstance() {
    CoreThread* core = gCore.exchange(nullptr);
    if (!core) return;
    core->join();
    delete core;
    // The protocol object goes with the core that built it.
    setNetworkProtocol(nullptr);
}

void CoreThread::start() {
    handler_.subscribe(messageQ);
    startTime_.now();
    CoreOptions* options = coreOptions();
    if (options) {
        options->load();
        setNetworkProtocol(
            std::shared_ptr<i4_protocol>(i4_tcpip_protocol::create(0, options->proxySettings())));
    }
    reloadFilters();
    if (options && !socketPool_) {
        socketPool_ = new STSocketPool(options);
        peerConnector_ = new PeerConnector(socketPool_);
    }
    // The pool is ticked before the bus in every step.
    if (socketPool_) addTask(socketPool_);
    if (messageQ) addTask(messageQ);
    TaskThread::start();
    setPriority(kCorePriority);
}

void CoreThread::stop() {
    if (CoreOptions* options = coreOptions()) options->save();
    delete peerConnector_;
    peerConnector_ = nullptr;
    delete socketPool_;
    socketPool_ = nullptr;
}

int CoreThread::connectionCount() const { return socketPool_ ? socketPool_->count() : 0; }

void CoreThread::reloadFilters() {
    CoreOptions* options = coreOptions();
    if (options) filters_.load(options->filtersPath().c_str());
}
