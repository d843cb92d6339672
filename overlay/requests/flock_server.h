// FlockServer: answers what other nodes ask of this node: boot requests,
// hellos, route requests, index searches and publishes, check messages,
// reports of dead nodes and the buddy-count query (opcodes 10, 12, 14, 16,
// 19, 31, 32, 33, 34; layouts in opcodes.h). Every answer goes to the
// sender's address through the endpoint that received the request. A
// datagram shorter than its opcode's layout or count is dropped whole,
// before anything is done with it. Every node read from a datagram is
// offered to the routing table through the contact refresher.
#pragma once

#include <memory>

#include "core/net/udp_annex.h"

class ContactRefresher;
class FlockGateway;
class FlockSelf;
class ServiceDirectory;
class Node;

class FlockServer : public UDPMessageHandler {
public:
    FlockServer(FlockGateway& gateway, const FlockSelf& self, ServiceDirectory& directory, ContactRefresher& refresher)
        : gateway_(gateway), self_(self), directory_(directory), refresher_(refresher) {}

    bool handle(uint8_t opcode, UDPAnnex* annex, i4_ram_file_class* datagram, const i4_address* sender) override;

private:
    void connect(UDPAnnex* annex, i4_ram_file_class* reader, uint32_t ip, int port);
    void hello(UDPAnnex* annex, i4_ram_file_class* reader, uint32_t ip, int port);
    void route(UDPAnnex* annex, i4_ram_file_class* reader, uint32_t ip, int port);
    void search(UDPAnnex* annex, i4_ram_file_class* reader, uint32_t ip, int port);
    void publish(UDPAnnex* annex, i4_ram_file_class* reader, uint32_t ip, int port);
    void check(uint8_t opcode, i4_ram_file_class* reader, uint32_t ip, int port);
    void deadNode(i4_ram_file_class* reader);
    void numBuddies(UDPAnnex* annex, uint32_t ip, int port);

    FlockGateway& gateway_;
    const FlockSelf& self_;
    ServiceDirectory& directory_;
    ContactRefresher& refresher_;
};

// Reads a node record, offers the node to the routing table through the
// contact refresher and returns it. The record must be there (the caller
// checked the length); a short one raises i4_err.
std::unique_ptr<Node> readAndOfferNode(FlockGateway& gateway, i4_file* reader);
