// How a connect thread reaches an HTTP server: it resolves the host and
// connects to it directly (HTTP sources never use the proxy settings).
// Tests install a connector of their own to fail or hold this step
// without a name lookup.
#pragma once

#include "downloads/http/http_connect_attempt.h"

class i4_socket;

// How long one connect may take.
constexpr int kHttpConnectLimitMs = 8000;

class HttpConnector {
public:
    virtual ~HttpConnector() = default;
    // A connected non-blocking socket to host:port (owned by the caller),
    // or null with *outcome telling why (kNoHost or kFailed). Runs on the
    // connect thread; a socket still connecting is registered with
    // attempt.watch while it waits (attempt.unwatch before it is deleted
    // or returned), so that an abandon cuts the wait short.
    virtual i4_socket* connect(const char* host, int port, HttpConnectAttempt& attempt,
                               HttpConnectAttempt::Outcome* outcome) = 0;
};

// The direct way: a protocol object of its own without proxy resolves the
// host, then the connect is waited for at most kHttpConnectLimitMs.
i4_socket* connect_http_direct(const char* host, int port, HttpConnectAttempt& attempt,
                               HttpConnectAttempt::Outcome* outcome);

// The installed connector, or null for the direct way. Any thread.
HttpConnector* httpConnector();
// Installs a connector (not owned; null: the direct way again); returns
// the one installed before. A connector must outlive every connect thread
// started while it was installed.
HttpConnector* setHttpConnector(HttpConnector* connector);
