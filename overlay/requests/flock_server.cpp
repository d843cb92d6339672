#include "overlay/requests/flock_server.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/net/check_trailer.h"
#include "core/net/ip_text.h"
#include "core/net/udp_packet.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/gateway/flock_output.h"
#include "overlay/index/service.h"
#include "overlay/index/service_directory.h"
#include "overlay/index/service_search.h"
#include "overlay/opcodes.h"
#include "overlay/requests/request_counter.h"
#include "overlay/routing/contact_list.h"
#include "overlay/routing/contact_refresher.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/net/address.h"
#include "v4ada/time/random.h"

namespace {
bool holds(i4_ram_file_class* reader, i4_pos bytes) { return reader->remaining() >= bytes; }
}  // namespace

std::unique_ptr<Node> readAndOfferNode(FlockGateway& gateway, i4_file* reader) {
    auto node = std::make_unique<Node>();
    node->read(reader);
    gateway.refresher().offerNode(node.get());
    return node;
}

bool FlockServer::handle(uint8_t opcode, UDPAnnex* annex, i4_ram_file_class* reader, const i4_address* sender) {
    if (sender == nullptr || annex == nullptr) return false;
    uint32_t ip = addressToIp(sender);
    int port = sender->port();
    switch (opcode) {
        case INODE_CONNECT:
            connect(annex, reader, ip, port);
            break;
        case INODE_HELLO:
            hello(annex, reader, ip, port);
            break;
        case INODE_ROUTE:
            route(annex, reader, ip, port);
            break;
        case INODE_SEARCH:
            search(annex, reader, ip, port);
            break;
        case INODE_PUBLISH:
            publish(annex, reader, ip, port);
            break;
        case INODE_CHECK:
        case INODE_CHECKREPLY:
            check(opcode, reader, ip, port);
            break;
        case INODE_DEADNODE:
            deadNode(reader);
            break;
        case INODE_GETNUMBUDDIES:
            numBuddies(annex, ip, port);
            break;
        default:
            return false;
    }
    return true;
}

void FlockServer::connect(UDPAnnex* annex, i4_ram_file_class* reader, uint32_t ip, int port) {
    if (!holds(reader, kConnectSize)) return;
    Node asker;
    asker.read(reader);
    asker.ip = ip;  // the port stays as sent
    // The random contacts are drawn before the asker is offered, and the
    // asker never gets its own record back.
    std::vector<Node> drawn;
    if (ContactList* table = gateway_.contacts()) {
        LL all;
        table->allContacts(&all);
        std::vector<Node*> contacts;
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(&all, &cursor)) contacts.push_back(static_cast<Node*>(element));
        for (int i = 0; i < kConnectReplyDraws && !contacts.empty(); i++) {
            Node* contact = contacts[random_below(static_cast<int>(contacts.size()))];
            if (contact->sameId(&asker)) continue;
            bool seen = std::any_of(drawn.begin(), drawn.end(), [&](const Node& n) { return n.sameId(contact); });
            if (!seen) drawn.push_back(*contact);
        }
    }
    refresher_.offerNode(&asker);
    int count = static_cast<int>(drawn.size()) + 1;
    UDPPacket* packet =
        gateway_.newPacket(ip, port, INODE_CONNECTREPLY, kConnectReplyHeaderSize + count * kNodeRecordSize);
    PacketBuffer* out = packet->buffer();
    out->write_16(static_cast<uint16_t>(count));
    for (const Node& node : drawn) node.write(out);
    self_.node().write(out);
    annex->send(packet);
}

void FlockServer::hello(UDPAnnex* annex, i4_ram_file_class* reader, uint32_t ip, int port) {
    if (RequestCounter* counter = gateway_.requestCounter()) counter->countHello();
    if (!holds(reader, kHelloSize)) return;
    readAndOfferNode(gateway_, reader);
    annex->send(gateway_.newPacket(ip, port, INODE_HELLOREPLY, 0));
}

void FlockServer::route(UDPAnnex* annex, i4_ram_file_class* reader, uint32_t ip, int port) {
    if (RequestCounter* counter = gateway_.requestCounter()) counter->countRoute();
    if (!holds(reader, kRouteSize)) return;
    int wanted = std::min<int>(reader->read_8(), kRouteReplyMaxNodes);
    UniqueID target;
    target.read(reader);
    LL nearest;
    int count = 0;
    if (ContactList* table = gateway_.contacts()) count = table->nearest(target, wanted, &nearest);
    UDPPacket* packet =
        gateway_.newPacket(ip, port, INODE_ROUTEREPLY, kRouteReplyHeaderSize + count * kNodeRecordSize);
    PacketBuffer* out = packet->buffer();
    target.write(out);
    out->write_8(static_cast<uint8_t>(count));
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&nearest, &cursor)) static_cast<Node*>(element)->write(out);
    annex->send(packet);
}

void FlockServer::search(UDPAnnex* annex, i4_ram_file_class* reader, uint32_t ip, int port) {
    if (RequestCounter* counter = gateway_.requestCounter()) counter->countSearch();
    ServiceSearch query;
    // A search whose tree does not read is not answered: what follows it
    // would be read from a wrong offset.
    if (!query.read(reader)) return;
    LL found;
    int next = 0;
    int total = directory_.lookup(&query, &next, &found);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&found, &cursor)) {
        auto service = static_cast<Service*>(element);
        UDPPacket* packet = gateway_.newPacket(ip, port, INODE_SEARCHRESULT, service->wireSize());
        service->toNetwork(packet->buffer());
        annex->send(packet);
    }
    UDPPacket* end = gateway_.newPacket(ip, port, INODE_SEARCHEND, kSearchEndSize);
    PacketBuffer* out = end->buffer();
    query.key.write(out);
    out->write_16(static_cast<uint16_t>(std::clamp(next, 0, 0xFFFF)));
    out->write_16(static_cast<uint16_t>(std::clamp(total, 0, 0xFFFF)));
    annex->send(end);
}

void FlockServer::publish(UDPAnnex* annex, i4_ram_file_class* reader, uint32_t ip, int port) {
    if (RequestCounter* counter = gateway_.requestCounter()) counter->countPublish();
    if (gateway_.firewallStatus() == NetworkGateway::kFirewalled) return;
    auto service = new TimedService();
    if (!holds(reader, kServiceMinWireSize) || !service->fromNetwork(reader)) {
        delete service;
        OwnedString address;
        flock_print_raw("Bad Service from: %s %d\n", ipToText(ip, address), port);
        return;
    }
    service->stamp = service->firstSeen;
    UDPPacket* ack = gateway_.newPacket(ip, port, INODE_PUBLISHACK, kPublishAckSize);
    service->serviceId.write(ack->buffer());
    annex->send(ack);
    directory_.add(service);
}

void FlockServer::check(uint8_t opcode, i4_ram_file_class* reader, uint32_t ip, int port) {
    if (!holds(reader, kCheckPayloadSize) || reader->tell() < kDatagramHeaderSize) return;
    // The trailer covers the datagram from its marker on.
    uint8_t datagram[kCheckDatagramSize];
    std::memcpy(datagram, reader->data() + reader->tell() - kDatagramHeaderSize, kCheckDatagramSize);
    reader->read_32();
    Node node;
    node.read(reader);
    if (!messageCheckTrailer(datagram, kCheckDatagramSize, kCheckTrailerSeed)) return;
    if (opcode != INODE_CHECK) return;
    gateway_.sendCheck(ip, port, INODE_CHECKREPLY);
    refresher_.offerNode(&node);
}

void FlockServer::deadNode(i4_ram_file_class* reader) {
    if (!holds(reader, kDeadNodeSize)) return;
    Node node;
    node.read(reader);
    refresher_.nodeFailed(&node);
}

void FlockServer::numBuddies(UDPAnnex* annex, uint32_t ip, int port) {
    OwnedString address;
    flock_print_flush("INODE_GETNUMBUDDIES: %s : %d\n", ipToText(ip, address), port);
    UDPPacket* packet = gateway_.newPacket(ip, port, INODE_NUMBUDDIES, kNumBuddiesSize);
    packet->buffer()->write_32(static_cast<uint32_t>(gateway_.buddyCount()));
    annex->send(packet);
}
