#include "overlay/requests/publish_requester.h"

#include "core/net/udp_packet.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/opcodes.h"
#include "overlay/requests/flock_reply_server.h"
#include "v4ada/file/ram_file.h"

PublishRequester::PublishRequester(FlockGateway& gateway, const Service& service, int wanted)
    : Requester(gateway, service.serviceId, wanted), publisher_(gateway.publisher()) {
    service_.assign(service);
}

PublishRequester::~PublishRequester() {
    if (successes() + 1 < wanted()) publisher_.markForRepublish(service_);
}

void PublishRequester::send(Node* node) {
    FlockReplyServer* server = gateway_.replyServer();
    if (server == nullptr) return;
    UDPPacket* packet = gateway_.newPacket(node->ip, node->port, INODE_PUBLISH, service_.wireSize());
    service_.toNetwork(packet->buffer());
    server->sendRequest(packet, kPublishTimeoutMs, node, this);
}

int PublishRequester::gotReply(Node* node, int opcode, i4_ram_file_class* reader) {
    if (opcode != INODE_PUBLISHACK || !isPending(node)) return 0;
    if (reader->remaining() < kPublishAckSize) return 0;
    i4_pos start = reader->tell();
    UniqueID stored;
    stored.read(reader);
    if (!stored.equals(service_.serviceId)) {
        reader->seek(start);
        return 0;
    }
    succeeded(node);  // may end this requester
    return 1;
}
