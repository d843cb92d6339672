// Feeds proxy replies to the handshake parsers, the first byte choosing
// the parser, over every prefix of the reply, as a reply arriving byte by
// byte would be seen. A parser that completes must agree with itself on
// longer inputs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "v4ada/net/proxy_handshake.h"

namespace {

ProxyReply parse(int kind, const uint8_t* data, int n) {
    uint8_t ip[4];
    int port = 0;
    int method = 0;
    int status = 0;
    int length = 0;
    switch (kind % 5) {
        case 0:
            return http_proxy_reply(data, n, &status, &length);
        case 1:
            return socks4_reply(data, n, ip, &port);
        case 2:
            return socks5_method_reply(data, n, &method);
        case 3:
            return socks5_login_reply(data, n);
        default:
            return socks5_reply(data, n, ip, &port);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 2048) return 0;
    int kind = data[0];
    const uint8_t* reply = data + 1;
    int n = static_cast<int>(size - 1);
    ProxyReply previous = ProxyReply::kNeedMore;
    for (int i = 0; i <= n; i++) {
        ProxyReply result = parse(kind, reply, i);
        // Once a reply is refused, more bytes cannot make it acceptable.
        if (previous == ProxyReply::kFail && result == ProxyReply::kOk && kind % 5 != 0) abort();
        previous = result;
    }
    return 0;
}
