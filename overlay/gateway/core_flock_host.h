// CoreFlockHost: the program's host of its one gateway: settings from the
// options record, real UDP sockets through networkProtocol, served by the
// core's socket pool, the core's task thread and message bus, the
// installed peer link and the core's result filter.
#pragma once

#include "overlay/gateway/flock_host.h"

class CoreFlockHost : public FlockHost {
public:
    UniqueID ownId() override;
    OwnedString baseDirectory() override;
    bool savedUdpPort(int32_t* port) override;
    void saveUdpPort(int32_t port) override;
    i4_socket* openDatagramSocket(int port, int timeoutMs) override;
    bool serveEndpoint(BlackUDPAnnex* endpoint) override;
    void withdrawEndpoint(BlackUDPAnnex* endpoint) override;
    void addTask(TimeSliceTask* task) override;
    void removeTask(TimeSliceTask* task) override;
    int doorPort() override;
    uint32_t recordedIp() override;
    void setRecordedIp(uint32_t ip) override;
    void setBuddy(uint32_t ip, int port) override;
    PeerLink* peers() override;
    void rates(double* down, double* up) override;
    MessageQ* bus() override;
    FilterMaster* resultFilter() override;
};
