#include "core/startup/network_setup.h"

#include <memory>

#include "v4ada/net/protocol.h"
#include "v4ada/net/proxy_settings.h"

void rebuildNetworkProtocol(const ProxySettings* settings) {
    std::shared_ptr<i4_protocol> protocol(i4_tcpip_protocol::create(0, settings));
    // The previous object dies here only when nobody else holds it.
    installNetworkProtocol(std::move(protocol));
}

void clearNetworkProtocol() { installNetworkProtocol(std::shared_ptr<i4_protocol>()); }
