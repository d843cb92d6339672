#include "scripted_nodes_fixture.h"

#include <algorithm>
#include <random>

#include "overlay/opcodes.h"
#include "overlay_fixture.h"

namespace overlaytest {

ScriptedNodes::ScriptedNodes(support::MemoryNetwork& network, int count, unsigned seed, int neighbours, int randoms)
    : network_(network) {
    std::mt19937 rng(seed);
    for (int i = 0; i < count; i++) {
        auto scripted = std::make_unique<ScriptedNode>();
        uint32_t ip = support::ip("10.1.0.0") + (static_cast<uint32_t>(i / 250) << 16) +
                      (static_cast<uint32_t>(i % 250 + 1) << 24);
        scripted->node = makeNode(randomId(rng), ip, 4672);
        scripted->peer = network.addPeer(ip, 4672);
        ScriptedNode* self = scripted.get();
        scripted->peer->onDatagram = [this, self](support::DatagramPeer&, const support::Datagram& d) { answer(*self, d); };
        nodes_.push_back(std::move(scripted));
    }
    for (auto& self : nodes_) {
        std::vector<Node> others;
        for (auto& other : nodes_)
            if (other.get() != self.get()) others.push_back(other->node);
        std::sort(others.begin(), others.end(),
                  [&](const Node& a, const Node& b) { return isCloser(self->node.id, a.id, b.id); });
        size_t near = std::min<size_t>(static_cast<size_t>(neighbours), others.size());
        self->known.assign(others.begin(), others.begin() + static_cast<long>(near));
        for (int r = 0; r < randoms && near < others.size(); r++)
            self->known.push_back(others[near + rng() % (others.size() - near)]);
    }
}

ScriptedNode* ScriptedNodes::byAddress(uint32_t ip, int port) {
    for (auto& node : nodes_)
        if (node->node.hasAddress(ip, port)) return node.get();
    return nullptr;
}

std::vector<Node> ScriptedNodes::nearest(const UniqueID& target, size_t n, bool skipSilent) {
    std::vector<Node> all;
    for (auto& node : nodes_)
        if (!skipSilent || node->mode != ScriptedNode::kSilent) all.push_back(node->node);
    std::sort(all.begin(), all.end(), [&](const Node& a, const Node& b) { return isCloser(target, a.id, b.id); });
    all.resize(std::min(n, all.size()));
    return all;
}

void ScriptedNodes::answer(ScriptedNode& self, const support::Datagram& d) {
    if (self.mode == ScriptedNode::kSilent) return;
    std::vector<std::string> replies;
    std::string reply;
    if (d.opcode() == INODE_ROUTE && d.bytes.size() >= 19) {
        int wanted = std::min<int>(static_cast<uint8_t>(d.bytes[2]), kRouteReplyMaxNodes);
        UniqueID target;
        target.copy(d.bytes.data() + 3);
        std::vector<Node> known = self.known;
        std::sort(known.begin(), known.end(), [&](const Node& a, const Node& b) { return isCloser(target, a.id, b.id); });
        known.resize(std::min(known.size(), static_cast<size_t>(wanted)));
        std::string records;
        for (const Node& n : known) {
            records += record(n);
            self.named.push_back(idBytes(n.id));
        }
        reply = datagram(INODE_ROUTEREPLY, d.bytes.substr(3, 16) + std::string(1, static_cast<char>(known.size())) + records);
    } else if (d.opcode() == INODE_HELLO && self.mode != ScriptedNode::kNoHello) {
        reply = datagram(INODE_HELLOREPLY);
    } else if (self.onRequest) {
        replies = self.onRequest(self, d);
    }
    if (!reply.empty()) replies.push_back(reply);
    for (const std::string& answer : replies) {
        if (self.mode == ScriptedNode::kHold) {
            self.held.push_back(answer);
            self.from.push_back(d);
            continue;
        }
        self.peer->sendTo(d.fromIp, d.fromPort, answer);
    }
}

void ScriptedNodes::release(ScriptedNode& node) {
    for (size_t i = 0; i < node.held.size(); i++) node.peer->sendTo(node.from[i].fromIp, node.from[i].fromPort, node.held[i]);
    node.held.clear();
    node.from.clear();
}

}  // namespace overlaytest
