#include "overlay/requests/search_requester.h"

#include "core/net/ip_text.h"
#include "core/net/udp_packet.h"
#include "core/ui/flock_ui.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/gateway/flock_output.h"
#include "overlay/index/service.h"
#include "overlay/index/service_search.h"
#include "overlay/opcodes.h"
#include "overlay/requests/flock_reply_server.h"
#include "overlay/requests/result_callback.h"
#include "v4ada/file/ram_file.h"

SearchRequester::SearchRequester(FlockGateway& gateway, ServiceSearch* search, ResultCallback* callback,
                                 Node* givenNode)
    : Requester(gateway, search->key, givenNode != nullptr ? kSearchNodeWanted : kSearchWanted),
      givenNode_(givenNode),
      search_(search),
      callback_(callback) {}

SearchRequester::~SearchRequester() { gateway_.ui().searchClosed(search_->key.bytes()); }

void SearchRequester::start() {
    if (givenNode_ != nullptr) {
        offer(givenNode_.get());
        // Nothing was sent (the gateway is not running): nothing will come.
        endIfStalled();
        return;
    }
    Requester::start();
}

void SearchRequester::send(Node* node) {
    FlockReplyServer* server = gateway_.replyServer();
    if (server == nullptr) return;
    UDPPacket* packet = gateway_.newPacket(node->ip, node->port, INODE_SEARCH, search_->size());
    search_->write(packet->buffer());
    server->sendRequest(packet, kSearchTimeoutMs, node, this);
}

int SearchRequester::gotReply(Node* node, int opcode, i4_ram_file_class* reader) {
    i4_pos start = reader->tell();
    if (opcode == INODE_SEARCHRESULT) {
        Service result;
        int& taken = taken_[uint64_t(node->ip) << 16 | uint16_t(node->port)];
        if (taken < search_->max && reader->remaining() >= kServiceMinWireSize && result.fromNetwork(reader) &&
            result.serviceId.equals(search_->key)) {
            taken++;
            if (callback_ != nullptr) callback_->gotResult(&result);
            if (responded_.findById(node) == nullptr) responded_.addCopy(node);
            return 2;
        }
        reader->seek(start);
        return 0;
    }
    if (opcode != INODE_SEARCHEND || reader->remaining() < kSearchEndSize) return 0;
    UniqueID key;
    key.read(reader);
    if (!key.equals(search_->key)) {
        reader->seek(start);
        return 0;
    }
    int next = reader->read_16();
    int total = reader->read_16();
    if (next == total || responded_.findById(node) != nullptr) {
        if (callback_ != nullptr) callback_->searchEnd(search_.get(), node, next, total);
        succeeded(node);  // may end this requester
        return 1;
    }
    // Stopped before the end without a single result.
    FlockGateway& gateway = gateway_;
    Node silent(*node);
    timedOut(node);  // may end this requester
    OwnedString address;
    flock_debug("Black Listing: (%s:%d)\n", ipToText(silent.ip, address), silent.port);
    gateway.blacklistNode(&silent);
    return 1;
}

void SearchRequester::timedOut(Node* node) {
    if (responded_.findById(node) != nullptr)
        succeeded(node);
    else
        Requester::timedOut(node);
}
