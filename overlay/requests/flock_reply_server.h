// FlockReplyServer: tracks every overlay request that expects an answer.
// Each request is an entry {time-out, expiry, listener, node}; answers
// from the node's address go to the listener, a time-out that runs out is
// told to the listener, and an entry that got no answer at all within
// 60000 ms costs its node one miss in the routing table.
//
// Listeners may be deleted (their destructors cancel them) and requests
// sent while the server walks its entries in handle and tick.
#pragma once

#include <cstdint>
#include <list>

#include "core/net/udp_annex.h"
#include "core/task/time_slice_task.h"
#include "overlay/routing/node.h"

class ContactRefresher;
class FlockGateway;
class ReplyListener;
class UDPPacket;

// Milliseconds after which an unanswered entry is dropped with a miss.
constexpr int kRequestExpiryMs = 60000;

class FlockReplyServer : public UDPMessageHandler, public TimeSliceTask {
public:
    FlockReplyServer(FlockGateway& gateway, ContactRefresher& refresher) : gateway_(gateway), refresher_(refresher) {}
    ~FlockReplyServer() override = default;
    FlockReplyServer(const FlockReplyServer&) = delete;
    FlockReplyServer& operator=(const FlockReplyServer&) = delete;

    // Records the request, then queues the datagram on the endpoint.
    void sendRequest(UDPPacket* packet, int timeoutMs, const Node* node, ReplyListener* listener);
    // An answer (opcodes 13, 15, 17, 18, 20, 25, 26) to the listeners
    // waiting on the sender's address, in the order the requests went out.
    bool handle(uint8_t opcode, UDPAnnex* annex, i4_ram_file_class* datagram, const i4_address* sender) override;
    // Ages the entries; reports no work.
    bool tick(int elapsedMs) override;
    // Clears the listener in every entry; the entries stay until answered
    // or expired.
    void cancelListener(ReplyListener* listener);

    int pendingCount() const { return static_cast<int>(entries_.size()); }

private:
    struct Pending {
        int32_t timeout;
        int32_t expiry;
        ReplyListener* listener;
        Node node;
    };

    FlockGateway& gateway_;
    ContactRefresher& refresher_;
    std::list<Pending> entries_;
};
