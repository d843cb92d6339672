#include "overlay/gateway/core_flock_host.h"

#include <memory>

#include "core/net/network_protocol.h"
#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "overlay/gateway/black_udp_annex.h"
#include "overlay/gateway/flock_self.h"
#include "overlay/gateway/peer_link.h"
#include "core/bus/message_q.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/socket.h"

UniqueID CoreFlockHost::ownId() {
    CoreOptions* options = coreOptions();
    return options != nullptr ? options->ownUserMeta()->userHash() : UniqueID();
}

OwnedString CoreFlockHost::baseDirectory() {
    CoreOptions* options = coreOptions();
    return options != nullptr ? options->baseDir() : OwnedString(".");
}

bool CoreFlockHost::savedUdpPort(int32_t* port) {
    CoreOptions* options = coreOptions();
    return options != nullptr && options->getIntOption(kOptAnnexPort, port);
}

void CoreFlockHost::saveUdpPort(int32_t port) {
    if (CoreOptions* options = coreOptions()) options->setIntOption(kOptAnnexPort, port);
}

i4_socket* CoreFlockHost::openDatagramSocket(int port, int timeoutMs) {
    std::shared_ptr<i4_protocol> protocol = networkProtocol();
    if (!protocol) return nullptr;
    i4_socket* socket = protocol->listen(port, timeoutMs, kSocketDatagram, nullptr);
    if (socket != nullptr) socket->setBlocking(false);
    return socket;
}

bool CoreFlockHost::serveEndpoint(BlackUDPAnnex* endpoint) {
    CoreThread* core = coreThread();
    SocketPool* pool = core != nullptr ? core->socketPool() : nullptr;
    if (pool == nullptr) {
        delete endpoint;
        return false;
    }
    pool->add(endpoint);
    return true;
}

void CoreFlockHost::withdrawEndpoint(BlackUDPAnnex* endpoint) {
    CoreThread* core = coreThread();
    SocketPool* pool = core != nullptr ? core->socketPool() : nullptr;
    // Without a pool the endpoint was let go with it.
    if (pool != nullptr) pool->remove(endpoint);
}

void CoreFlockHost::addTask(TimeSliceTask* task) {
    if (CoreThread* core = coreThread()) core->addTask(task);
}

void CoreFlockHost::removeTask(TimeSliceTask* task) {
    if (CoreThread* core = coreThread()) core->removeTask(task);
}

int CoreFlockHost::doorPort() {
    CoreOptions* options = coreOptions();
    return options != nullptr ? options->tcpPort() : 0;
}

uint32_t CoreFlockHost::recordedIp() {
    CoreOptions* options = coreOptions();
    return options != nullptr ? options->ownIP() : 0;
}

void CoreFlockHost::setRecordedIp(uint32_t ip) {
    if (CoreOptions* options = coreOptions()) options->setOwnIP(ip);
}

void CoreFlockHost::setBuddy(uint32_t ip, int port) {
    CoreOptions* options = coreOptions();
    if (options == nullptr) return;
    options->setBuddyIP(ip);
    options->setBuddyPort(static_cast<uint16_t>(port));
}

PeerLink* CoreFlockHost::peers() { return peerLink(); }

void CoreFlockHost::rates(double* down, double* up) {
    CoreOptions* options = coreOptions();
    *down = options != nullptr ? options->currentDownRate() : 0.0;
    *up = options != nullptr ? options->currentUpRate() : 0.0;
}

MessageQ* CoreFlockHost::bus() { return messageQ; }

FilterMaster* CoreFlockHost::resultFilter() {
    CoreThread* core = coreThread();
    return core != nullptr ? core->filters() : nullptr;
}
