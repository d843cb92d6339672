// HelloRequester: announces the own node (INODE_HELLO with the own node
// record, 15000 ms time-out) to the nodes nearest a target; an
// INODE_HELLOREPLY from a pending node is a success.
#pragma once

#include "overlay/requests/requester.h"

class FlockSelf;

// Nodes a hello lookup for the own identifier announces itself to.
constexpr int kHelloWanted = 20;

class HelloRequester : public Requester {
public:
    HelloRequester(FlockGateway& gateway, const UniqueID& target, int wanted);

    const char* name() override { return "HelloRequester"; }
    void send(Node* node) override;
    int gotReply(Node* node, int opcode, i4_ram_file_class* reader) override;

private:
    const FlockSelf& self_;
};
