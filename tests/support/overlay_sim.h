// Overlay gateways over the in-memory datagram network (datagram_net.h),
// driven by the manual clock: SimHost is a gateway's FlockHost with its own
// identifier, base directory, address and task thread; OverlaySim keeps
// the network, the clock and the hosts and moves them in steps.
//
//   OverlaySim sim;                               // installs a ManualClock
//   SimHost& host = sim.addHost(id, "10.0.0.1", 4000, dir.path());
//   FlockGateway gateway(host);
//   gateway.start();
//   sim.advance(6000);                            // clock, tasks, network
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/task/task_thread.h"
#include "overlay/gateway/flock_host.h"
#include "support/datagram_net.h"
#include "support/peer_link_fakes.h"
#include "v4ada/time/clock_source.h"

namespace support {

class SimHost : public FlockHost {
public:
    SimHost(MemoryNetwork& network, const UniqueID& id, uint32_t ip, int port, std::string baseDir);
    ~SimHost() override;

    UniqueID ownId() override { return id_; }
    OwnedString baseDirectory() override { return OwnedString(baseDir_.c_str()); }
    bool savedUdpPort(int32_t* port) override;
    void saveUdpPort(int32_t port) override { savedPort_ = port; hasSavedPort_ = true; }
    // As if "annexPort" were absent.
    void forgetSavedPort() { hasSavedPort_ = false; }
    i4_socket* openDatagramSocket(int port, int timeoutMs) override;
    bool serveEndpoint(BlackUDPAnnex* endpoint) override;
    void withdrawEndpoint(BlackUDPAnnex* endpoint) override;
    void addTask(TimeSliceTask* task) override { tasks_.addTask(task); }
    void removeTask(TimeSliceTask* task) override { tasks_.removeTask(task); }
    int doorPort() override { return door; }
    uint32_t recordedIp() override { return recorded; }
    void setRecordedIp(uint32_t ip) override { recorded = ip; }
    void setBuddy(uint32_t ip, int port) override {
        buddyIp = ip;
        buddyPort = port;
    }
    PeerLink* peers() override { return withPeers ? &link : nullptr; }

    // One step of this host's tasks with the time since its last step.
    void step() { tasks_.step(); }
    uint32_t ip() const { return ip_; }
    // False makes every socket open fail (a port in use).
    bool socketsAvailable = true;
    // The own TCP door port and the options record's address and buddy.
    int door = 4662;
    uint32_t recorded = 0;
    uint32_t buddyIp = 0;
    int buddyPort = 0;
    // The host's peer pool; false: the host has none.
    FakePeerLink link;
    bool withPeers = true;

private:
    MemoryNetwork& network_;
    UniqueID id_;
    uint32_t ip_;
    int32_t savedPort_;
    bool hasSavedPort_ = true;
    std::string baseDir_;
    TaskThread tasks_;
};

class OverlaySim {
public:
    OverlaySim();
    ~OverlaySim();
    OverlaySim(const OverlaySim&) = delete;
    OverlaySim& operator=(const OverlaySim&) = delete;

    // A host whose saved UDP port is `port` (owned by the simulation).
    SimHost& addHost(const UniqueID& id, const char* dottedIp, int port, const std::string& baseDir);

    // Moves the clock by ms in steps of at most stepMs; after each step
    // every host's tasks run and the network settles.
    void advance(int64_t ms, int stepMs = 100);
    // Settles the network without moving the clock.
    void settle() { network.settle(); }

    ManualClock clock;
    MemoryNetwork network;

private:
    ScopedClockSource clockScope_{&clock};
    std::vector<std::unique_ptr<SimHost>> hosts_;
};

}  // namespace support
