// Building the network protocol object from the proxy settings.
//
// networkProtocol (core/net/network_protocol.h) holds the one shared
// protocol object. A rebuild installs a new object and only drops the
// holder's reference to the old one: a connect thread or socket pool that
// took its own reference keeps a valid object until it lets go.
#pragma once

#include "core/net/network_protocol.h"

class ProxySettings;

// Builds a new TCP/IP protocol object with its own copy of the settings
// (null: no proxy) and installs it. Start-up calls it with the loaded
// settings; whoever changes the proxy settings calls it again.
void rebuildNetworkProtocol(const ProxySettings* settings);
// Empties the holder (shutdown, tests).
void clearNetworkProtocol();
