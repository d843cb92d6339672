// ContactRefresher: gives contacts dropped for silence a second chance,
// reports the estimated network size to the user interface and starts a
// hello lookup for the own identifier every 20 minutes.
//
// A contact dropped at its fifth miss goes under recheck: it is sent
// INODE_HELLO after 5, 20, 45 and 80 seconds (a x a x 5000 ms before the
// a-th hello), each with a 35000 ms time-out; an answer brings it back into
// the routing table with no misses, the fourth unanswered hello forgets
// it. A node under recheck is not put back into the table by anyone else.
// At most kRecheckMaxNodes are under recheck; a contact dropped while that
// many are is forgotten at once.
//
// Nodes offered from datagrams enter the table with no misses, whatever
// their record says.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "core/task/time_slice_task.h"
#include "overlay/id_key.h"
#include "overlay/requests/reply_listener.h"
#include "overlay/routing/node_list.h"

class FlockGateway;
class FlockSelf;

// Hellos a dropped contact gets before it is forgotten.
constexpr int kRecheckAttempts = 4;
constexpr int kRecheckStepMs = 5000;
constexpr int kRecheckMaxNodes = 512;
constexpr int kNetworkSizeFirstMs = 5000;
constexpr int kNetworkSizeStepMs = 6000;
constexpr int kNetworkSizeMaxMs = 360000;
constexpr int kHelloLookupEveryMs = 1200000;
// The first hello lookup comes this long after start.
constexpr int kHelloLookupFirstMs = 600000;

class ContactRefresher : public TimeSliceTask, public ReplyListener {
public:
    ContactRefresher(FlockGateway& gateway, FlockSelf& self) : gateway_(gateway), self_(self) {}
    ~ContactRefresher();
    ContactRefresher(const ContactRefresher&) = delete;
    ContactRefresher& operator=(const ContactRefresher&) = delete;

    // Into the routing table, unless a node with that id is under recheck.
    void offerNode(const Node* node);
    // A request to the node expired without any answer, or another node
    // reported it dead: one miss, and recheck when that dropped it.
    void nodeFailed(const Node* node);
    // An INODE_HELLOREPLY from a node under recheck brings it back.
    int gotReply(Node* node, int opcode, i4_ram_file_class* reader) override;
    void timedOut(Node* node) override;
    bool tick(int elapsedMs) override;

    // Entries in schedule plus entries in recheck.
    int recheckCount();
    bool isUnderRecheck(const Node* node) { return recheckIndex_.count(idKey(node->id)) > 0; }

private:
    void schedule(const Node* node, int attempt);
    void sendHello(const Node* node);

    FlockGateway& gateway_;
    FlockSelf& self_;
    // Copies of nodes to be asked again; misses holds the milliseconds left.
    NodeList schedule_;
    // Nodes under recheck; misses holds the attempt number.
    NodeList recheck_;
    std::unordered_map<IdKey, Node*, IdKeyHash> recheckIndex_;
    int32_t uiElapsed_ = 0;
    int32_t uiInterval_ = kNetworkSizeFirstMs;
    int32_t lookupElapsed_ = kHelloLookupFirstMs;
};
