// OverlaySwarm: many complete overlay gateways in one process, on the
// in-memory datagram network (datagram_net.h) with configurable loss and
// delay, driven by one manual clock, seeded. Each node has its own host
// (overlay_sim.h) and its own fake peer pool; the swarm's peer world
// answers their connects as real pools would: a connect to a node's door
// succeeds (the events follow at the next delivery) unless that node is
// marked unreachable, and the tested node hears ICLT_PORT_REACHABLE as an
// open verdict. Connections nobody holds close after their events.
//
//   support::SwarmOptions options;            // nodes, seeds, seed, loss, delay
//   options.nodes = support::swarmNodesFromEnvironment(500);
//   support::OverlaySwarm swarm(options);
//   swarm.startAll(50, 2000);                 // in waves, booting from the seeds
//   swarm.advance(60000);
//   FlockGateway& g = swarm.gateway(7);
//
// Nodes are 10.x.y.z (a distinct address each), UDP port 4672, door 4662,
// identifiers drawn from the seed. Node i < seeds is seed i; every other
// node boots from the seeds given by address (as the command boot does).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "overlay/id_key.h"
#include "support/overlay_sim.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"

class FlockGateway;
class TCPConnection;

namespace support {

struct SwarmOptions {
    int nodes = 500;
    int seeds = 3;
    unsigned seed = 1;
    double loss = 0.0;  // the fraction of datagrams lost
    int delayMs = 0;    // every datagram arrives this much later
    int stepMs = 100;   // the clock moves in steps of this
};

// The node count of TANDREL_SWARM_NODES when set (the benchmarks run
// 10,000), else the given default.
int swarmNodesFromEnvironment(int fallback);

class OverlaySwarm {
public:
    explicit OverlaySwarm(const SwarmOptions& options);
    ~OverlaySwarm();
    OverlaySwarm(const OverlaySwarm&) = delete;
    OverlaySwarm& operator=(const OverlaySwarm&) = delete;

    int size() const { return static_cast<int>(nodes_.size()); }
    FlockGateway& gateway(int i);
    SimHost& host(int i);
    bool live(int i) const;
    std::vector<int> liveNodes() const;

    // Starts the node, booting from the seeds (a seed from those before it).
    void start(int i);
    // Starts every node not yet started, perWave at a time, waveMs apart
    // (seeds first).
    void startAll(int perWave, int waveMs);
    // The node stops (its endpoint goes); it stays stopped.
    void stop(int i);
    // Nobody can open a TCP connection to the node.
    void setReachable(int i, bool reachable);

    // Moves the clock by ms in steps; after each step every live node's
    // tasks run, the network settles and the peer events are delivered.
    void advance(int64_t ms);
    // Nodes whose firewall verdict is open.
    int openCount() const;
    // Live nodes nearest the target, nearest first, without `except`.
    std::vector<int> nearestLive(const UniqueID& target, size_t n, int except = -1) const;
    // The node of an identifier, or -1.
    int nodeOf(const UniqueID& id) const;

    OverlaySim& sim() { return sim_; }
    MemoryNetwork& network() { return sim_.network; }
    std::mt19937& random() { return rng_; }

private:
    struct Node;
    // A connect under way: its events come at the next delivery.
    struct Pending {
        int from;
        int to;  // -1: nobody has that door
        uint32_t ip;
        uint16_t port;
    };
    int connect(int from, uint32_t ip, uint16_t port, TCPConnection** out);
    // False when nothing was pending.
    bool deliverPeerEvents();

    SwarmOptions options_;
    std::mt19937 rng_;
    CaptureUI output_;
    OverlaySim sim_;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::map<uint64_t, int> byDoor_;  // (ip, door) -> node
    std::unordered_map<IdKey, int, IdKeyHash> byId_;
    std::vector<Pending> pending_;
};

}  // namespace support
