// FlockHost: what a gateway needs of the process around it: its settings
// (the own identifier, the base directory, the saved UDP port), the
// datagram side of its endpoint (a socket bound to a port, and the pool
// that serves the endpoint) and the task thread that ticks its periodic
// work. The program's host (CoreFlockHost) reads the options record, opens
// real UDP sockets and uses the core's socket pool and task thread; tests
// give each gateway a host of their own over an in-memory network or the
// loopback, so that many gateways can live in one process.
#pragma once

#include <cstdint>

#include "v4ada/containers/unique_id.h"
#include "v4ada/string/owned_string.h"

class BlackUDPAnnex;
class FilterMaster;
class MessageQ;
class PeerLink;
class TimeSliceTask;
class i4_socket;

class FlockHost {
public:
    virtual ~FlockHost() = default;

    // The own node identifier (the user hash of the own record).
    virtual UniqueID ownId() = 0;
    // The directory of contact.dat.
    virtual OwnedString baseDirectory() = 0;
    // The saved UDP port (option "annexPort"); false when none is saved.
    virtual bool savedUdpPort(int32_t* port) = 0;
    virtual void saveUdpPort(int32_t port) = 0;

    // A datagram socket bound to the port (0: one the system picks), not
    // blocking; null when none can be made.
    virtual i4_socket* openDatagramSocket(int port, int timeoutMs) = 0;
    // The endpoint joins the served connections; the host owns it from
    // here on. False when it cannot be served (it is deleted then).
    virtual bool serveEndpoint(BlackUDPAnnex* endpoint) = 0;
    // The endpoint leaves the served connections and is deleted by the
    // host (at once or when the pool lets it go).
    virtual void withdrawEndpoint(BlackUDPAnnex* endpoint) = 0;

    virtual void addTask(TimeSliceTask* task) = 0;
    virtual void removeTask(TimeSliceTask* task) = 0;

    // The own TCP door port, named in firewall checks, buddy answers, call
    // requests and the location link.
    virtual int doorPort() = 0;
    // The own address the options record holds (0 while unknown; the
    // client hello carries it).
    virtual uint32_t recordedIp() = 0;
    virtual void setRecordedIp(uint32_t ip) = 0;
    // The buddy's address and port for the options' own record.
    virtual void setBuddy(uint32_t ip, int port) = 0;
    // The pool of connections to other clients; null when there is none
    // (no firewall checks are answered, no buddy is kept).
    virtual PeerLink* peers() = 0;

    // The current download and upload rates, for the statistics line.
    virtual void rates(double* down, double* up) { *down = *up = 0.0; }
    // The message bus whose overlay codes the gateway handles; null: none.
    virtual MessageQ* bus() { return nullptr; }
    // The filter search results pass before the user sees them; null: none.
    virtual FilterMaster* resultFilter() { return nullptr; }
};
