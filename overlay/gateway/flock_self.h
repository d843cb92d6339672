// FlockSelf: the own node of a gateway (identifier, IPv4 address, UDP
// port) and the path of its contact.dat.
#pragma once

#include <cstdint>

#include "overlay/routing/node.h"
#include "v4ada/string/owned_string.h"

class FlockGateway;
class FlockHost;

// The UDP port drawn when none is saved: 3000 to 12999.
constexpr int kRandomPortBase = 3000;
constexpr int kRandomPortRange = 10000;
constexpr const char* kOptAnnexPort = "annexPort";

class FlockSelf {
public:
    FlockSelf(FlockGateway& gateway, FlockHost& host) : gateway_(gateway), host_(host) {}

    // path := base directory + "/contact.dat"; port := the saved one, else
    // a random one; id := the host's own id; address := 0.
    void load();
    // Saves the own UDP port as "annexPort".
    void save();
    // A new port moves the endpoint there and announces the node again.
    void setUdpPort(int port);
    // The own address; the options record takes it too while it holds none
    // or when it is a high ID. The location link follows.
    void setIp(uint32_t ip);
    int udpPort() const { return node_.port; }
    // The port the endpoint was bound to, when the system picked it.
    void takeBoundPort(int port) { node_.port = port; }

    const Node& node() const { return node_; }
    const UniqueID& id() const { return node_.id; }
    uint32_t ip() const { return node_.ip; }
    const OwnedString& contactPath() const { return contactPath_; }

private:
    FlockGateway& gateway_;
    FlockHost& host_;
    OwnedString contactPath_;
    Node node_;
};
