#include "overlay/routing/contact_refresher.h"

#include <algorithm>

#include "core/net/udp_packet.h"
#include "core/ui/flock_ui.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/opcodes.h"
#include "overlay/requests/flock_reply_server.h"
#include "overlay/routing/contact_list.h"
#include "v4ada/containers/list_iterator.h"

ContactRefresher::~ContactRefresher() {
    if (FlockReplyServer* server = gateway_.replyServer()) server->cancelListener(this);
}

void ContactRefresher::offerNode(const Node* node) {
    if (node == nullptr || isUnderRecheck(node)) return;
    ContactList* table = gateway_.contacts();
    if (table == nullptr) return;
    // The misses byte of a record is what its sender wrote: a node learnt
    // from a datagram has missed nothing here yet.
    Node fresh(*node);
    fresh.misses = 0;
    table->add(&fresh);
}

void ContactRefresher::nodeFailed(const Node* node) {
    if (node == nullptr || isUnderRecheck(node)) return;
    ContactList* table = gateway_.contacts();
    if (table == nullptr || !table->miss(node)) return;
    // Dropped; with the recheck list full it is forgotten at once.
    if (recheckIndex_.size() >= static_cast<size_t>(kRecheckMaxNodes)) return;
    Node* copy = recheck_.addCopy(node);
    copy->misses = 1;
    recheckIndex_[idKey(copy->id)] = copy;
    schedule(node, 1);
}

void ContactRefresher::schedule(const Node* node, int attempt) {
    Node* entry = schedule_.addCopy(node);
    entry->misses = attempt * attempt * kRecheckStepMs;
}

int ContactRefresher::gotReply(Node* node, int opcode, i4_ram_file_class*) {
    // Only the hello answer: any other answer of that node belongs to the
    // listener that asked for it.
    if (opcode != INODE_HELLOREPLY) return 0;
    auto found = recheckIndex_.find(idKey(node->id));
    if (found == recheckIndex_.end()) return 0;
    Node* entry = found->second;
    recheckIndex_.erase(found);
    recheck_.remove(entry);
    entry->misses = 0;
    if (ContactList* table = gateway_.contacts()) table->add(entry);
    delete entry;
    return 1;
}

void ContactRefresher::timedOut(Node* node) {
    auto found = recheckIndex_.find(idKey(node->id));
    if (found == recheckIndex_.end()) return;
    Node* entry = found->second;
    entry->misses++;
    if (entry->misses <= kRecheckAttempts) {
        schedule(entry, entry->misses);
        return;
    }
    if (ContactList* table = gateway_.contacts()) table->remove(entry);
    recheckIndex_.erase(found);
    recheck_.remove(entry);
    delete entry;
}

bool ContactRefresher::tick(int elapsedMs) {
    uiElapsed_ += elapsedMs;
    if (uiElapsed_ > uiInterval_) {
        uiInterval_ = std::min(uiInterval_ + kNetworkSizeStepMs, kNetworkSizeMaxMs);
        uiElapsed_ = 0;
        auto clampInt = [](uint32_t v) { return static_cast<int>(std::min<uint32_t>(v, INT32_MAX)); };
        gateway_.ui().networkSize(clampInt(gateway_.estimatedUsers()), clampInt(gateway_.estimatedFiles()));
    }
    lookupElapsed_ += elapsedMs;
    if (lookupElapsed_ > kHelloLookupEveryMs) {
        lookupElapsed_ = 0;
        gateway_.helloLookup();
    }
    ListIterator walk(&schedule_);
    while (walk.hasMore()) {
        auto entry = static_cast<Node*>(walk.next());
        entry->misses -= elapsedMs;
        if (entry->misses >= 0) continue;
        walk.removeCurrent();
        sendHello(entry);
        delete entry;
    }
    return false;
}

void ContactRefresher::sendHello(const Node* node) {
    FlockReplyServer* server = gateway_.replyServer();
    if (server == nullptr) return;
    UDPPacket* packet = gateway_.newPacket(node->ip, node->port, INODE_HELLO, kHelloSize);
    self_.node().write(packet->buffer());
    server->sendRequest(packet, kRefreshHelloTimeoutMs, node, this);
}

int ContactRefresher::recheckCount() { return schedule_.count() + recheck_.count(); }
