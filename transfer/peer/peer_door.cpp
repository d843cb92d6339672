#include "transfer/peer/peer_door.h"

#include <algorithm>
#include <atomic>

#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "core/startup/network_setup.h"
#include "core/ui/transfer_ui.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/peer.h"
#include "v4ada/net/proxy_settings.h"

namespace {
std::atomic<PeerDoor*> gDoor{nullptr};
}  // namespace

PeerDoor* peerDoor() { return gDoor.load(); }

PeerDoor::PeerDoor(int port) : TCPDoor(port) { gDoor.store(this); }

PeerDoor::~PeerDoor() {
    PeerDoor* self = this;
    gDoor.compare_exchange_strong(self, nullptr);
}

int PeerDoor::acceptLimit(int maxCon) { return std::min(maxCon + 10, 2 * maxCon); }

bool PeerDoor::acceptAllowed() {
    CoreThread* core = coreThread();
    CoreOptions* options = coreOptions();
    int maxCon = options ? options->maxConnections() : kDefaultMaxConnections;
    int count = core ? core->connectionCount() : 0;
    return count < acceptLimit(maxCon);
}

Connection* PeerDoor::makeConnection(i4_socket* socket) { return new Peer(socket); }

void openDoor(const ProxySettings* settings, int listenTimeoutMs) {
    CoreOptions* options = coreOptions();
    if (!options) return;
    bool changed = options->setProxy(settings);
    std::shared_ptr<const ProxySettings> current = options->proxySettings();
    // New settings need a new protocol object: setProxy leaves that to us.
    if (changed) rebuildNetworkProtocol(current.get());
    if (changed && current && current->type != kProxyNone) return;
    if (peerDoor()) return;
    TransferOptions* transfer = transferOptions();
    int port = transfer ? transfer->doorPort() : kDefaultDoorPort;
    auto door = new PeerDoor(port);
    CoreThread* core = coreThread();
    SocketPool* pool = core ? core->socketPool() : nullptr;
    if (pool && door->listen(listenTimeoutMs)) {
        pool->add(door);
        return;
    }
    if (TransferUI* ui = currentTransferUI()) ui->doorFailed(port);
}

void closePeerDoor() {
    PeerDoor* door = gDoor.exchange(nullptr);
    if (!door) return;
    CoreThread* core = coreThread();
    SocketPool* pool = core ? core->socketPool() : nullptr;
    // Only a door that listens was handed to the socket pool.
    if (door->socket() && pool)
        pool->remove(door);
    else
        delete door;
}
