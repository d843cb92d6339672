// i4_HttpConnection: the base library's HTTP client object. It fetches
// nothing: fetch leaves the output empty and returns 0.
#pragma once

#include "v4ada/string/owned_string.h"

class i4_HttpConnection {
public:
    i4_HttpConnection() = default;
    ~i4_HttpConnection() { close(); }
    i4_HttpConnection(const i4_HttpConnection&) = delete;
    i4_HttpConnection& operator=(const i4_HttpConnection&) = delete;

    // Performs no request; output is left as it is and the result is 0.
    int fetch(const char* url, OwnedString* output);
    void close() {}
};
