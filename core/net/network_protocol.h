// networkProtocol: the one protocol object through which every socket is
// resolved, connected and listened on. It is shared: a connect thread or a
// socket pool holds its own reference for as long as it uses the object,
// so replacing it (the proxy settings changed) never frees it under them.
#pragma once

#include <memory>

class i4_protocol;

// The current protocol object, or null when none is installed.
std::shared_ptr<i4_protocol> networkProtocol();
// Installs a new protocol object (null removes it); returns the previous.
// The old object lives on until its last user drops its reference.
std::shared_ptr<i4_protocol> installNetworkProtocol(std::shared_ptr<i4_protocol> protocol);
