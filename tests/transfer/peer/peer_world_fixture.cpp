#include "transfer/peer/peer_world_fixture.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/bus/message_q.h"
#include "core/net/check_trailer.h"
#include "core/net/network_protocol.h"
#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "core/startup/network_setup.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer_door.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/net/socket.h"
#include "support/bytes.h"
#include "support/loopback.h"
#include "v4ada/threads/linux/threads.h"

namespace transfertest {

// ---- world ----

void PeerWorld::SetUp() {
    ASSERT_FALSE(dir_.path().empty());
    clockScope_ = std::make_unique<ScopedClockSource>(&clock_);
    capture_ = std::make_unique<support::CaptureUI>();
    using support::ProcessObjects;
    process_.emplace(ProcessObjects::kSpecialTags | ProcessObjects::kBus | ProcessObjects::kCoreOptions |
                     ProcessObjects::kClientPool | ProcessObjects::kTransferOptions | ProcessObjects::kCoreThread);
    core_ = coreThread();
    core_->setBaseDirectory(dir_.path().c_str());
    core_->build();
    // Everything listens on the loopback only.
    installNetworkProtocol(std::shared_ptr<i4_protocol>(support::loopback_protocol()));
    clientPool()->addHandler(&handler_);
    transferHandler_.registerAll(messageQ);
    transferOptions()->load();
    // Joins the pool and the bus to the task list.
    core_->step();
}

void PeerWorld::TearDown() {
    threads_wait_all();
    transferHandler_.unregisterAll(messageQ);
    process_.reset();
    closePeerDoor();
    clearNetworkProtocol();
    capture_.reset();
    clockScope_.reset();
}

void PeerWorld::step(int ms) {
    clock_.advanceMs(ms);
    core_->step();
}

bool PeerWorld::stepUntil(const std::function<bool()>& condition, int ms) {
    for (int i = 0; i < 300; i++) {
        if (condition()) return true;
        step(ms);
    }
    return condition();
}

Peer* PeerWorld::accept(std::unique_ptr<FrameClient>* client) {
    std::shared_ptr<i4_protocol> protocol = networkProtocol();
    i4_socket* listener = protocol->listen(0, 0, kSocketStream, nullptr);
    if (!listener) return nullptr;
    *client = std::make_unique<FrameClient>(support::raw_connect(support::local_port(listener)));
    i4_socket* accepted = nullptr;
    listener->accept(&accepted);
    listener->close();
    delete listener;
    if (!accepted) return nullptr;
    accepted->setBlocking(false);
    auto peer = new Peer(accepted);
    core_->socketPool()->add(peer);
    step();
    return peer;
}

Peer* PeerWorld::acceptHello(std::unique_ptr<FrameClient>* client, UserMeta user) {
    Peer* peer = accept(client);
    if (!peer) return nullptr;
    (*client)->send(ICLT_HELLO, helloPayload(user, 0, 0, true, true));
    if (!stepUntil([&] { return clientPool()->contains(peer); })) return nullptr;
    return peer;
}

bool PeerWorld::awaitFrames(FrameClient& client, size_t count) {
    return stepUntil([&] {
        client.poll(kReplyWaitMs);
        return client.frames.size() >= count || client.closed;
    }) && client.frames.size() >= count;
}

bool PeerWorld::awaitClose(FrameClient& client) {
    return stepUntil([&] {
        client.poll(kReplyWaitMs);
        return client.closed;
    });
}

}  // namespace transfertest
