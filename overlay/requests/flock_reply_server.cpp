#include "overlay/requests/flock_reply_server.h"

#include "core/net/ip_text.h"
#include "core/net/udp_packet.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/requests/reply_listener.h"
#include "overlay/routing/contact_refresher.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/net/address.h"

void FlockReplyServer::sendRequest(UDPPacket* packet, int timeoutMs, const Node* node, ReplyListener* listener) {
    if (node == nullptr) {
        delete packet;
        return;
    }
    entries_.push_back(Pending{timeoutMs, kRequestExpiryMs, listener, *node});
    gateway_.send(packet);
}

bool FlockReplyServer::handle(uint8_t opcode, UDPAnnex*, i4_ram_file_class* reader, const i4_address* sender) {
    if (sender == nullptr) return false;
    uint32_t ip = addressToIp(sender);
    int port = sender->port();
    i4_pos position = reader->tell();
    // Entries are only removed here and in tick, never by a listener, so
    // the iterator stays valid across the calls; requests sent meanwhile
    // join at the end.
    for (auto entry = entries_.begin(); entry != entries_.end();) {
        if (!entry->node.hasAddress(ip, port)) {
            ++entry;
            continue;
        }
        if (entry->listener == nullptr) {
            // A late answer: the entry goes without a miss.
            entry = entries_.erase(entry);
            continue;
        }
        int result = entry->listener->gotReply(&entry->node, opcode, reader);
        if (result == 1) {
            entries_.erase(entry);
            return true;
        }
        if (result == 2) {
            if (entry->listener == nullptr) {
                // The listener went away while it took the answer.
                entries_.erase(entry);
            } else {
                entry->timeout = entry->listener->moreTime();
                entry->expiry = kRequestExpiryMs;
            }
            return true;
        }
        reader->seek(position);
        ++entry;
    }
    return true;
}

bool FlockReplyServer::tick(int elapsedMs) {
    // Requests sent during this walk are not aged by time that passed
    // before them.
    size_t due = entries_.size();
    auto entry = entries_.begin();
    for (; due > 0 && entry != entries_.end(); due--) {
        entry->timeout -= elapsedMs;
        entry->expiry -= elapsedMs;
        if (entry->timeout < 0 && entry->listener != nullptr) {
            ReplyListener* listener = entry->listener;
            entry->listener = nullptr;
            listener->timedOut(&entry->node);
        }
        if (entry->expiry < 0) {
            Node node = entry->node;
            entry = entries_.erase(entry);
            refresher_.nodeFailed(&node);
            continue;
        }
        ++entry;
    }
    return false;
}

void FlockReplyServer::cancelListener(ReplyListener* listener) {
    for (Pending& entry : entries_)
        if (entry.listener == listener) entry.listener = nullptr;
}
