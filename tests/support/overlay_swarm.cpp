#include "support/overlay_swarm.h"

#include <algorithm>
#include <cstdlib>

#include "core/net/ip_text.h"
#include "core/net/tcp_connection.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/routing/node.h"

namespace support {

namespace {

constexpr int kSwarmUdpPort = 4672;
constexpr int kSwarmDoorPort = 4662;
// Where the nodes would keep contact.dat: nowhere (the swarm lives in
// memory; a save fails and is reported into the swarm's capture).
constexpr const char* kSwarmBaseDir = "/nonexistent/overlay-swarm";

uint64_t doorKey(uint32_t ip, int port) { return (static_cast<uint64_t>(ip) << 16) | (port & 0xFFFF); }

// 10.x.y.z with no byte 0, so that every node is a high ID.
std::string addressOf(int i) {
    return "10." + std::to_string(i / 62500 + 1) + "." + std::to_string(i / 250 % 250 + 1) + "." +
           std::to_string(i % 250 + 1);
}

}  // namespace

struct OverlaySwarm::Node {
    SimHost* host = nullptr;
    std::unique_ptr<FlockGateway> gateway;
    bool started = false;
    bool live = false;
    bool reachable = true;
    // This node's connection to another node, and the other node of each.
    std::map<int, TCPConnection*> to;
    std::map<TCPConnection*, int> other;
};

int swarmNodesFromEnvironment(int fallback) {
    const char* text = std::getenv("TANDREL_SWARM_NODES");
    int value = text != nullptr ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

OverlaySwarm::OverlaySwarm(const SwarmOptions& options)
    : options_(options), rng_(options.seed), output_(CaptureUI::Install::kCurrent) {
    sim_.network.setLoss(options.loss, options.seed);
    sim_.network.setDelay(options.delayMs);
    nodes_.reserve(static_cast<size_t>(options.nodes));
    for (int i = 0; i < options.nodes; i++) {
        auto node = std::make_unique<Node>();
        UniqueID id;
        for (int b = 0; b < kUniqueIdSize; b++) id.bytes()[b] = static_cast<uint8_t>(rng_());
        std::string address = addressOf(i);
        node->host = &sim_.addHost(id, address.c_str(), kSwarmUdpPort, kSwarmBaseDir);
        node->host->door = kSwarmDoorPort;
        node->host->link.onConnect = [this, i](uint32_t ip, uint16_t port, TCPConnection** out) {
            return connect(i, ip, port, out);
        };
        node->host->link.onPortReachable = [this, i](TCPConnection* connection) {
            Node& self = *nodes_[static_cast<size_t>(i)];
            auto found = self.other.find(connection);
            if (found == self.other.end()) return;
            Node& tested = *nodes_[static_cast<size_t>(found->second)];
            if (tested.live) tested.gateway->setFirewalled(NetworkGateway::kOpen);
        };
        node->gateway = std::make_unique<FlockGateway>(*node->host);
        byDoor_[doorKey(node->host->ip(), kSwarmDoorPort)] = i;
        byId_[idKey(id)] = i;
        node->host->link.logging = false;
        nodes_.push_back(std::move(node));
    }
}

OverlaySwarm::~OverlaySwarm() {
    // Gateways before their hosts and links (the simulation owns those).
    for (auto& node : nodes_) node->gateway.reset();
}

FlockGateway& OverlaySwarm::gateway(int i) { return *nodes_[static_cast<size_t>(i)]->gateway; }

SimHost& OverlaySwarm::host(int i) { return *nodes_[static_cast<size_t>(i)]->host; }

bool OverlaySwarm::live(int i) const { return nodes_[static_cast<size_t>(i)]->live; }

void OverlaySwarm::setReachable(int i, bool reachable) { nodes_[static_cast<size_t>(i)]->reachable = reachable; }

std::vector<int> OverlaySwarm::liveNodes() const {
    std::vector<int> live;
    for (int i = 0; i < size(); i++)
        if (nodes_[static_cast<size_t>(i)]->live) live.push_back(i);
    return live;
}

void OverlaySwarm::start(int i) {
    Node& node = *nodes_[static_cast<size_t>(i)];
    if (node.started) return;
    node.started = true;
    node.live = true;
    node.gateway->start();
    // A seed boots from the seeds before it, every other node from all the
    // seeds (one lost datagram must not leave it alone).
    int seeds = std::min(i, std::max(1, options_.seeds));
    for (int seed = 0; seed < seeds; seed++)
        node.gateway->booter().bootFrom(nodes_[static_cast<size_t>(seed)]->host->ip(), kSwarmUdpPort);
}

void OverlaySwarm::startAll(int perWave, int waveMs) {
    int inWave = 0;
    for (int i = 0; i < size(); i++) {
        if (nodes_[static_cast<size_t>(i)]->started) continue;
        start(i);
        // The seeds come up together, before anyone boots from them.
        if (i < options_.seeds) continue;
        if (++inWave >= perWave) {
            inWave = 0;
            advance(waveMs);
        }
    }
}

void OverlaySwarm::stop(int i) {
    Node& node = *nodes_[static_cast<size_t>(i)];
    if (!node.live) return;
    node.live = false;
    node.gateway->stop();
    // Its connections close on both sides.
    for (auto [other, connection] : std::map<int, TCPConnection*>(node.to)) {
        Node& peer = *nodes_[static_cast<size_t>(other)];
        auto back = peer.to.find(i);
        if (back != peer.to.end()) {
            peer.host->link.close(back->second);
            peer.other.erase(back->second);
            peer.host->link.discard(back->second);
            peer.to.erase(back);
        }
        node.host->link.close(connection);
        node.host->link.discard(connection);
    }
    node.to.clear();
    node.other.clear();
}

int OverlaySwarm::connect(int from, uint32_t ip, uint16_t port, TCPConnection** out) {
    Node& self = *nodes_[static_cast<size_t>(from)];
    auto target = byDoor_.find(doorKey(ip, port));
    if (target != byDoor_.end()) {
        auto existing = self.to.find(target->second);
        if (existing != self.to.end() && self.host->link.listed(existing->second)) {
            if (out != nullptr) *out = existing->second;
            return PeerLink::kConnected;
        }
    }
    Pending pending;
    pending.from = from;
    pending.to = target != byDoor_.end() ? target->second : -1;
    pending.ip = ip;
    pending.port = port;
    pending_.push_back(pending);
    return PeerLink::kConnecting;
}

bool OverlaySwarm::deliverPeerEvents() {
    if (pending_.empty()) return false;
    std::vector<Pending> batch;
    batch.swap(pending_);
    for (const Pending& p : batch) {
        Node& from = *nodes_[static_cast<size_t>(p.from)];
        if (!from.live) continue;
        Node* to = p.to >= 0 ? nodes_[static_cast<size_t>(p.to)].get() : nullptr;
        if (to == nullptr || !to->live || !to->reachable) {
            from.host->link.fail(p.ip, p.port);
            continue;
        }
        PeerFacts toward;
        toward.socketIp = to->host->ip();
        toward.port = static_cast<uint16_t>(to->host->door);
        toward.helloIp = to->host->recorded;
        toward.userHash = to->host->ownId();
        PeerFacts back;
        back.socketIp = from.host->ip();
        back.port = static_cast<uint16_t>(from.host->door);
        back.helloIp = from.host->recorded;
        back.userHash = from.host->ownId();
        TCPConnection* out = from.host->link.makeConnection(toward, "node");
        TCPConnection* in = to->host->link.makeConnection(back, "node");
        from.to[p.to] = out;
        from.other[out] = p.to;
        to->to[p.from] = in;
        to->other[in] = p.from;
        from.host->link.open(out);
        to->host->link.open(in);
        // Nobody holds it: it closes once its messages are sent.
        if (from.host->link.holdsOf(out) == 0 && to->host->link.holdsOf(in) == 0) {
            from.host->link.close(out);
            to->host->link.close(in);
            from.to.erase(p.to);
            from.other.erase(out);
            to->to.erase(p.from);
            to->other.erase(in);
            from.host->link.discard(out);
            to->host->link.discard(in);
        }
    }
    return true;
}

void OverlaySwarm::advance(int64_t ms) {
    while (ms > 0) {
        int step = static_cast<int>(std::min<int64_t>(ms, options_.stepMs));
        ms -= step;
        sim_.clock.advanceMs(step);
        sim_.network.advanceTime(step);
        for (auto& node : nodes_)
            if (node->live) node->host->step();
        sim_.network.settle();
        while (deliverPeerEvents()) sim_.network.settle();
    }
}

int OverlaySwarm::openCount() const {
    int open = 0;
    for (const auto& node : nodes_)
        if (node->live && node->gateway->firewallStatus() == NetworkGateway::kOpen) open++;
    return open;
}

std::vector<int> OverlaySwarm::nearestLive(const UniqueID& target, size_t n, int except) const {
    std::vector<int> live;
    for (int i = 0; i < size(); i++)
        if (i != except && nodes_[static_cast<size_t>(i)]->live) live.push_back(i);
    auto closer = [&](int a, int b) {
        return isCloser(target, nodes_[static_cast<size_t>(a)]->host->ownId(), nodes_[static_cast<size_t>(b)]->host->ownId());
    };
    size_t keep = std::min(n, live.size());
    std::partial_sort(live.begin(), live.begin() + static_cast<long>(keep), live.end(), closer);
    live.resize(keep);
    return live;
}

int OverlaySwarm::nodeOf(const UniqueID& id) const {
    auto found = byId_.find(idKey(id));
    return found != byId_.end() ? found->second : -1;
}

}  // namespace support
