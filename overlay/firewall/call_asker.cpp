#include "overlay/firewall/call_asker.h"

#include "core/meta/user_meta.h"
#include "core/net/udp_packet.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/gateway/flock_host.h"
#include "overlay/index/service.h"
#include "overlay/index/service_search.h"
#include "overlay/opcodes.h"
#include "overlay/requests/flock_reply_server.h"

CallAsker::~CallAsker() {
    if (FlockReplyServer* server = gateway_.replyServer()) server->cancelListener(this);
}

bool CallAsker::askForSource(UserMeta* user) {
    if (user == nullptr) return false;
    if (user->buddyIp() != 0 && user->buddyPort() != 0) {
        auto node = new AskedNode();
        node->ip = user->buddyIp();
        node->port = user->buddyPort();
        node->userId.copy(user->userHash());
        ask(node);
    } else {
        searchBuddyRecord(user->userHash());
    }
    return true;
}

void CallAsker::searchBuddyRecord(const UniqueID& user) { gateway_.startSearch(new ServiceSearch(user), this); }

void CallAsker::gotResult(Service* result) {
    int32_t ip = 0;
    int32_t port = 0;
    if (!result->getIntOut("ip", &ip) || !result->getIntOut("port", &port) || ip == 0 || port <= 0 || port > 65535)
        return;
    auto node = new AskedNode();
    node->ip = static_cast<uint32_t>(ip);
    node->port = port;
    node->fromSearch = true;
    node->userId.copy(result->serviceId);
    ask(node);
}

void CallAsker::ask(AskedNode* node) {
    FlockReplyServer* server = gateway_.replyServer();
    if (server == nullptr || !gateway_.running() || asked_.findByAddress(node->ip, node->port) != nullptr ||
        asked_.count() >= kAskedMax) {
        delete node;
        return;
    }
    asked_.append(node);
    UDPPacket* packet = gateway_.newPacket(node->ip, node->port, INODE_CALLREQUEST, 16 + 2);
    node->userId.write(packet->buffer());
    packet->buffer()->write_16(static_cast<uint16_t>(host_.doorPort()));
    server->sendRequest(packet, kCallRequestTimeoutMs, node, this);
}

int CallAsker::gotReply(Node* node, int opcode, i4_ram_file_class*) {
    if (opcode == INODE_CALLRELAYED) {
        asked_.removeByAddress(node->ip, node->port);
        return 1;
    }
    if (opcode != INODE_CALLFAILED) return 0;
    auto asked = static_cast<AskedNode*>(asked_.findByAddress(node->ip, node->port));
    if (asked == nullptr) return 0;
    UniqueID user;
    user.copy(asked->userId);
    bool fromSearch = asked->fromSearch;
    asked_.removeByAddress(node->ip, node->port);
    if (!fromSearch) searchBuddyRecord(user);
    return 1;
}

void CallAsker::timedOut(Node* node) {
    auto asked = static_cast<AskedNode*>(asked_.findByAddress(node->ip, node->port));
    if (asked == nullptr) return;
    UniqueID user;
    user.copy(asked->userId);
    bool fromSearch = asked->fromSearch;
    asked_.removeByAddress(node->ip, node->port);
    if (!fromSearch) searchBuddyRecord(user);
}

void CallAsker::clear() {
    if (FlockReplyServer* server = gateway_.replyServer()) server->cancelListener(this);
    asked_.deleteAll();
}
