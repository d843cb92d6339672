// Rebuilding the network protocol object from the proxy settings.
//
// networkProtocol (core/net/network_protocol.h) holds the one shared
// protocol object. A rebuild installs a new object and only drops the
// holder's reference to the old one: a connect thread or socket pool that
// took its own reference keeps a valid object until it lets go.
#pragma once

#include "core/net/network_protocol.h"

class ProxySettings;

// Installs a new TCP/IP protocol object with its own copy of the settings
// (null: no proxy).
// Note: setNetworkProtocol(nullptr) picks this overload (a protocol without
// proxy); clearNetworkProtocol empties the holder.
void setNetworkProtocol(const ProxySettings* settings);
// Empties the holder (shutdown, tests).
void clearNetworkProtocol();
