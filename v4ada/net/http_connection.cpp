#include "v4ada/net/http_connection.h"

#include <cstring>
#include <memory>
#include <string>

#include "v4ada/memory/memory.h"
#include "v4ada/net/address.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket.h"
#include "v4ada/net/url.h"
#include "v4ada/string/cstring.h"
#include "v4ada/time/time_value.h"

namespace {

constexpr int kDefaultHttpPort = 80;
constexpr size_t kMaxHeader = 8192;

int remainingMs(const TimeValue& start, int limitMs) {
    TimeValue now;
    int left = limitMs - TimeValue::msBetween(now, start);
    return left > 0 ? left : 0;
}

bool sendAll(i4_socket* socket, const std::string& data, const TimeValue& start, int limitMs) {
    size_t sent = 0;
    while (sent < data.size()) {
        int n = socket->write(data.data() + sent, static_cast<int>(data.size() - sent));
        if (n < 0) return false;
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        int left = remainingMs(start, limitMs);
        if (left == 0 || !(socket->waitUntil(kWritable, left, nullptr) & kWritable)) return false;
    }
    return true;
}

// Status line "HTTP/1.x 200 ..." only.
bool statusIsOk(const std::string& head) {
    if (head.compare(0, 5, "HTTP/") != 0) return false;
    size_t space = head.find(' ');
    return space != std::string::npos && head.compare(space + 1, 3, "200") == 0 &&
           (head.size() == space + 4 || head[space + 4] == ' ' || head[space + 4] == '\r');
}

// The value of a "Content-Length" header line, or -1 when there is none
// (or it is not a plain number).
long long contentLength(const std::string& head) {
    static const char kName[] = "content-length:";
    size_t at = 0;
    while ((at = head.find("\r\n", at)) != std::string::npos) {
        at += 2;
        if (head.size() - at < sizeof kName - 1 || i4memicmp(head.c_str() + at, kName, sizeof kName - 1) != 0)
            continue;
        const char* p = head.c_str() + at + sizeof kName - 1;
        while (*p == ' ' || *p == '\t') p++;
        long long value = 0;
        int digits = 0;
        for (; *p >= '0' && *p <= '9' && digits < 12; p++, digits++) value = value * 10 + (*p - '0');
        return digits > 0 && (*p == '\r' || *p == ' ') ? value : -1;
    }
    return -1;
}

}  // namespace

int i4_HttpConnection::fetch(const char* url, OwnedString* output, i4_protocol* protocol) {
    if (!url || !output) return -1;
    OwnedString scheme, host, path, rest;
    int port = kDefaultHttpPort;
    if (!split_url(url, &scheme, &host, &path, &rest, &port)) return -1;
    if (i4_stricmp(scheme.c_str(), "http") != 0 || host.isEmpty()) return -1;

    std::unique_ptr<i4_protocol> direct;
    if (!protocol) {
        direct.reset(i4_tcpip_protocol::create(0, nullptr));
        protocol = direct.get();
    }
    const int limitMs = timeLimitMs_;
    TimeValue start;
    std::unique_ptr<i4_address> address(protocol->resolve(host.c_str()));
    if (!address || remainingMs(start, limitMs) == 0) return -1;
    address->setPort(port);
    // A connect that is only started, then waited for within the time left
    // (a blocking one may take minutes against a listener that drops it).
    std::unique_ptr<i4_socket> socket(protocol->connect(address.get(), kSocketStream, false));
    if (!socket) return -1;
    socket->setBlocking(false);  // every wait below is bounded by the time limit
    int left = remainingMs(start, limitMs);
    int connected = left > 0 ? socket->waitUntil(kWritable, left, nullptr) : 0;
    if (!(connected & kWritable) || (connected & kReadyError)) return -1;

    std::string request = std::string("GET ") + path.c_str() + " HTTP/1.0\r\nHost: " + host.c_str() +
                          "\r\nConnection: close\r\n\r\n";
    if (!sendAll(socket.get(), request, start, limitMs)) return -1;

    // Read until the server closes, within the size and time limits.
    std::string answer;
    char buffer[4096];
    for (;;) {
        int n = socket->read(buffer, sizeof buffer);
        if (n < 0) break;  // closed: the document is complete
        if (n > 0) {
            answer.append(buffer, static_cast<size_t>(n));
            if (answer.size() > kMaxHeader + kMaxDocument) return -1;
            continue;
        }
        left = remainingMs(start, limitMs);
        if (left == 0) return -1;
        int ready = socket->waitUntil(kReadable, left, nullptr);
        if (ready == 0 && remainingMs(start, limitMs) == 0) return -1;
    }
    size_t end = answer.find("\r\n\r\n");
    if (end == std::string::npos || end > kMaxHeader || !statusIsOk(answer)) return -1;
    std::string body = answer.substr(end + 4);
    if (body.size() > static_cast<size_t>(kMaxDocument)) return -1;
    // A close and a reset look alike here: a declared length tells a
    // document cut short from a whole one.
    long long declared = contentLength(answer.substr(0, end + 2));
    if (declared >= 0 && static_cast<size_t>(declared) != body.size()) return -1;
    output->assign(OwnedString(body.c_str(), static_cast<int>(body.size())));
    return 0;
}
