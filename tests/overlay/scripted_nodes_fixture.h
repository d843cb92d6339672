// Scripted overlay nodes on the in-memory network: each knows its nearest
// neighbours and a few random nodes, answers INODE_ROUTE with the nodes it
// knows nearest to the target and INODE_HELLO with INODE_HELLOREPLY, and
// keeps what it received. A node can be silent, ignore hellos only, or hold
// its answers until they are released.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "overlay/routing/node.h"
#include "support/datagram_net.h"

namespace overlaytest {

struct ScriptedNode {
    enum Mode { kAnswer, kSilent, kNoHello, kHold };
    Node node;
    support::DatagramPeer* peer = nullptr;
    std::vector<Node> known;
    Mode mode = kAnswer;
    // Answers kept while the mode is kHold.
    std::vector<std::string> held;
    std::vector<support::Datagram> from;  // where each held answer goes

    // The nodes this one named in its route answers.
    std::vector<std::string> named;
    // Answers to any other request (searches, publishes), sent in order.
    std::function<std::vector<std::string>(ScriptedNode& self, const support::Datagram& request)> onRequest;
};

class ScriptedNodes {
public:
    // count nodes with random ids (seeded), each knowing its `neighbours`
    // nearest and `randoms` random others; addresses 10.1.x.y:4672.
    ScriptedNodes(support::MemoryNetwork& network, int count, unsigned seed, int neighbours = 20, int randoms = 4);

    std::vector<std::unique_ptr<ScriptedNode>>& nodes() { return nodes_; }
    ScriptedNode& at(size_t i) { return *nodes_[i]; }
    ScriptedNode* byAddress(uint32_t ip, int port);
    // The n nodes nearest the target, nearest first.
    std::vector<Node> nearest(const UniqueID& target, size_t n, bool skipSilent = true);
    // Sends the answers a held node kept.
    void release(ScriptedNode& node);

private:
    void answer(ScriptedNode& self, const support::Datagram& datagram);

    support::MemoryNetwork& network_;
    std::vector<std::unique_ptr<ScriptedNode>> nodes_;
};

}  // namespace overlaytest
