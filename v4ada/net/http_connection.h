// i4_HttpConnection: a small HTTP/1.0 client that fetches one document
// (used by the link command to fetch a link text from a URL).
#pragma once

#include "v4ada/string/owned_string.h"

class i4_protocol;

class i4_HttpConnection {
public:
    // Largest document fetched; a longer one fails.
    static constexpr int kMaxDocument = 64 * 1024;
    // Time allowed for the whole request: resolving, connecting, sending
    // and receiving.
    static constexpr int kTimeLimitMs = 10000;

    explicit i4_HttpConnection(int timeLimitMs = kTimeLimitMs) : timeLimitMs_(timeLimitMs) {}
    ~i4_HttpConnection() { close(); }
    i4_HttpConnection(const i4_HttpConnection&) = delete;
    i4_HttpConnection& operator=(const i4_HttpConnection&) = delete;

    // GETs an "http://host[:port]/path" URL and stores the body of a 200
    // answer in output. 0 on success; -1 on any failure (output unchanged).
    // The connection goes through `protocol` when given, else directly.
    int fetch(const char* url, OwnedString* output, i4_protocol* protocol = nullptr);
    void close() {}

private:
    int timeLimitMs_;
};
