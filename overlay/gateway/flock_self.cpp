#include "overlay/gateway/flock_self.h"

#include "overlay/firewall/firewall_task.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/gateway/flock_host.h"
#include "overlay/opcodes.h"
#include "overlay/routing/node_list.h"
#include "v4ada/time/random.h"

void FlockSelf::load() {
    FlockHost& host = host_;
    OwnedString base = host.baseDirectory();
    contactPath_.format("%s/%s", base.c_str(), kContactFileName);
    int32_t port = 0;
    if (!host.savedUdpPort(&port) || port < 0 || port > 65535) port = random_below(kRandomPortRange) + kRandomPortBase;
    node_.port = port;
    node_.id = host.ownId();
    node_.ip = 0;
    node_.misses = 0;
}

void FlockSelf::save() { host_.saveUdpPort(node_.port); }

void FlockSelf::setUdpPort(int port) {
    if (port == node_.port) return;
    node_.port = port;
    gateway_.createUdpSocket(kUdpSocketTimeoutMs, kFlockMarker);
    gateway_.helloLookup();
}

void FlockSelf::setIp(uint32_t ip) {
    node_.ip = ip;
    FlockHost& host = host_;
    if (host.recordedIp() == 0 || ip > kLastLowIdAddress) host.setRecordedIp(ip);
    gateway_.updateLocation();
}
