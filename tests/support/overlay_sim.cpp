#include "support/overlay_sim.h"

#include <algorithm>

#include "overlay/gateway/black_udp_annex.h"

namespace support {

SimHost::SimHost(MemoryNetwork& network, const UniqueID& id, uint32_t ip, int port, std::string baseDir)
    : network_(network), id_(id), ip_(ip), savedPort_(port), baseDir_(std::move(baseDir)) {}

SimHost::~SimHost() = default;

bool SimHost::savedUdpPort(int32_t* port) {
    if (!hasSavedPort_) return false;
    *port = savedPort_;
    return true;
}

i4_socket* SimHost::openDatagramSocket(int port, int) {
    if (!socketsAvailable) return nullptr;
    return network_.bind(ip_, port);
}

bool SimHost::serveEndpoint(BlackUDPAnnex* endpoint) {
    network_.serve(endpoint);
    return true;
}

void SimHost::withdrawEndpoint(BlackUDPAnnex* endpoint) { network_.leave(endpoint); }

OverlaySim::OverlaySim() = default;

OverlaySim::~OverlaySim() = default;

SimHost& OverlaySim::addHost(const UniqueID& id, const char* dottedIp, int port, const std::string& baseDir) {
    hosts_.push_back(std::make_unique<SimHost>(network, id, ip(dottedIp), port, baseDir));
    return *hosts_.back();
}

void OverlaySim::advance(int64_t ms, int stepMs) {
    while (ms > 0) {
        int step = static_cast<int>(std::min<int64_t>(ms, stepMs));
        clock.advanceMs(step);
        network.advanceTime(step);
        ms -= step;
        for (auto& host : hosts_) host->step();
        network.settle();
    }
}

}  // namespace support
