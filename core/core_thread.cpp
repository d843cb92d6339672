#include "core/core_thread.h"

#include "core/bus/message_q.h"
#include "core/options/core_options.h"

namespace {

// Constant-initialised: no constructor runs before main.
std::atomic<CoreThread*> gCore{nullptr};

}  // namespace

CoreThread::CoreThread() = default;

CoreThread::~CoreThread() = default;

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
}

void CoreThread::start() {
    handler_.subscribe(messageQ);
    startTime_.now();
    if (CoreOptions* options = coreOptions()) options->load();
    reloadFilters();
    if (messageQ) addTask(messageQ);
    TaskThread::start();
    setPriority(kCorePriority);
}

void CoreThread::stop() {
    if (CoreOptions* options = coreOptions()) options->save();
}

void CoreThread::reloadFilters() {
    CoreOptions* options = coreOptions();
    if (options) filters_.load(options->filtersPath().c_str());
}
