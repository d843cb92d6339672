#include "overlay/requests/hello_requester.h"

#include "core/net/udp_packet.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/opcodes.h"
#include "overlay/requests/flock_reply_server.h"

HelloRequester::HelloRequester(FlockGateway& gateway, const UniqueID& target, int wanted)
    : Requester(gateway, target, wanted), self_(gateway.self()) {}

void HelloRequester::send(Node* node) {
    FlockReplyServer* server = gateway_.replyServer();
    if (server == nullptr) return;
    UDPPacket* packet = gateway_.newPacket(node->ip, node->port, INODE_HELLO, kHelloSize);
    self_.node().write(packet->buffer());
    server->sendRequest(packet, kHelloTimeoutMs, node, this);
}

int HelloRequester::gotReply(Node* node, int opcode, i4_ram_file_class*) {
    if (opcode != INODE_HELLOREPLY || !isPending(node)) return 0;
    succeeded(node);  // may end this requester
    return 1;
}
