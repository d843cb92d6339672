#include "v4ada/net/proxy_handshake.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string text(const uint8_t* data, int n) { return std::string(reinterpret_cast<const char*>(data), n); }

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

const uint8_t* raw(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST(Base64, Rfc4648Vectors) {
    const char* cases[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (auto& c : cases) {
        char out[16];
        int n = base64_encode(reinterpret_cast<const uint8_t*>(c[0]), static_cast<int>(strlen(c[0])), out,
                              sizeof(out));
        EXPECT_EQ(std::string(c[1]), std::string(out, n));
    }
    char tiny[4];
    EXPECT_EQ(-1, base64_encode(reinterpret_cast<const uint8_t*>("foo"), 3, tiny, sizeof(tiny)));
}

TEST(HttpProxyRequest, BoundsCredentialsAndRequest) {
    char out[kHttpProxyBuffer];
    std::string longUser(300, 'u');
    EXPECT_EQ(-1, http_connect_request("h", 1, "h", longUser.c_str(), "p", out, sizeof(out)));
    std::string longHost(600, 'h');
    EXPECT_EQ(-1, http_connect_request(longHost.c_str(), 1, longHost.c_str(), nullptr, nullptr, out, sizeof(out)));
    // A dotted target without a name names itself as the host.
    int n = http_connect_request("10.0.0.1", 443, nullptr, nullptr, nullptr, out, sizeof(out));
    ASSERT_GT(n, 0);
    std::string request(out, n);
    EXPECT_EQ(0u, request.find("CONNECT 10.0.0.1:443 HTTP/1.0\r\n"));
    EXPECT_NE(std::string::npos, request.find("\r\nHost: 10.0.0.1\r\n"));
    EXPECT_EQ(std::string::npos, request.find("Proxy-authorization"));
}

TEST(HttpProxyReply, StatusAndHeaderEnd) {
    struct Case {
        std::string reply;
        ProxyReply result;
        int status;
    };
    const Case cases[] = {
        {"HTTP/1.0 200 Connection established\r\n\r\n", ProxyReply::kOk, 200},
        {"HTTP/1.1 200 OK\nVia: x\n\n", ProxyReply::kOk, 200},
        {"HTTP/1.0 407 Proxy Authentication Required\r\nX: y\r\n\r\n", ProxyReply::kFail, 407},
        {"HTTP/1.0 200 OK\r\n", ProxyReply::kNeedMore, 0},
        {"HTTP/1.0 20", ProxyReply::kNeedMore, 0},
        {"garbage\r\n\r\n", ProxyReply::kFail, 0},
        {"HTTP/1.0 abc\r\n\r\n", ProxyReply::kFail, 0},
        {std::string(kHttpProxyBuffer, 'x'), ProxyReply::kFail, 0},
    };
    for (const Case& c : cases) {
        int status = -1;
        int length = -1;
        EXPECT_EQ(c.result, http_proxy_reply(raw(c.reply), static_cast<int>(c.reply.size()), &status, &length))
            << c.reply;
        EXPECT_EQ(c.status, status) << c.reply;
        if (c.result == ProxyReply::kOk) {
            EXPECT_EQ(static_cast<int>(c.reply.size()), length);
        }
    }
    // Bytes behind the header are not part of it.
    std::string withData = "HTTP/1.0 200 OK\r\n\r\nDATA";
    int status = 0;
    int length = 0;
    EXPECT_EQ(ProxyReply::kOk, http_proxy_reply(raw(withData), static_cast<int>(withData.size()), &status, &length));
    EXPECT_EQ(static_cast<int>(withData.size()) - 4, length);
}

TEST(SocksRequests, ExactBytes) {
    uint8_t out[300];
    const uint8_t ip[4] = {192, 168, 1, 20};
    int n = socks4_request(kProxyConnect, 0x1234, ip, nullptr, out, sizeof(out));
    EXPECT_EQ(bytes({4, 1, 0x12, 0x34, 192, 168, 1, 20, 0}), text(out, n));
    n = socks4_request(kProxyConnect, 80, ip, "a.b", out, sizeof(out));
    EXPECT_EQ(bytes({4, 1, 0, 80, 0, 0, 0, 1, 0}) + "a.b" + bytes({0}), text(out, n));

    n = socks5_request(kProxyConnect, 0x1234, ip, nullptr, out, sizeof(out));
    EXPECT_EQ(bytes({5, 1, 0, 1, 192, 168, 1, 20, 0x12, 0x34}), text(out, n));
    n = socks5_request(kProxyConnect, 443, ip, "host", out, sizeof(out));
    EXPECT_EQ(bytes({5, 1, 0, 3, 4}) + "host" + bytes({1, 0xBB}), text(out, n));

    n = socks5_login_request("me", "secret", out, sizeof(out));
    EXPECT_EQ(bytes({1, 2}) + "me" + bytes({6}) + "secret", text(out, n));
    EXPECT_EQ(bytes({5, 2, 0, 2}), text(kSocks5Greeting, kSocks5GreetingLength));

    // Fields longer than one length byte, or missing, are refused.
    std::string name255(255, 'n');
    std::string name256(256, 'n');
    EXPECT_EQ(4 + 1 + 255 + 2, socks5_request(kProxyConnect, 1, ip, name255.c_str(), out, sizeof(out)));
    EXPECT_EQ(-1, socks5_request(kProxyConnect, 1, ip, name256.c_str(), out, sizeof(out)));
    EXPECT_EQ(-1, socks4_request(kProxyConnect, 1, ip, name256.c_str(), out, sizeof(out)));
    EXPECT_EQ(-1, socks5_login_request(name256.c_str(), "p", out, sizeof(out)));
    EXPECT_EQ(-1, socks5_login_request("u", name256.c_str(), out, sizeof(out)));
    EXPECT_EQ(-1, socks5_login_request("u", nullptr, out, sizeof(out)));
    EXPECT_EQ(-1, socks5_request(kProxyConnect, 1, ip, "host", out, 8));
}

TEST(SocksReplies, CompleteShortAndRefused) {
    uint8_t ip[4] = {0, 0, 0, 0};
    int port = 0;
    struct Case {
        int kind;  // 4: SOCKS4 reply, 5: SOCKS5 reply, 1: method, 2: login
        std::string reply;
        ProxyReply result;
    };
    const Case cases[] = {
        {4, bytes({0, 90, 0, 80, 1, 2, 3, 4}), ProxyReply::kOk},
        {4, bytes({4, 90, 0, 80, 1, 2, 3, 4}), ProxyReply::kOk},
        {4, bytes({0, 90, 0, 80}), ProxyReply::kNeedMore},
        {4, bytes({0, 0x5B}), ProxyReply::kFail},
        {4, bytes({5}), ProxyReply::kFail},
        {5, bytes({5, 0, 0, 1, 1, 2, 3, 4, 0, 80}), ProxyReply::kOk},
        {5, bytes({5, 0, 0, 1, 1, 2}), ProxyReply::kNeedMore},
        {5, bytes({5, 1}), ProxyReply::kFail},
        {5, bytes({5, 0, 0, 2}), ProxyReply::kFail},
        {5, bytes({5, 0, 0, 3, 3, 'a', 'b', 'c', 0}), ProxyReply::kNeedMore},
        {5, bytes({5, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), ProxyReply::kNeedMore},
        {5, bytes({4}), ProxyReply::kFail},
        {1, bytes({5, 0}), ProxyReply::kOk},
        {1, bytes({5, 2}), ProxyReply::kOk},
        {1, bytes({5}), ProxyReply::kNeedMore},
        {1, bytes({5, 0xFF}), ProxyReply::kFail},
        {1, bytes({5, 1}), ProxyReply::kFail},
        {2, bytes({1, 0}), ProxyReply::kOk},
        {2, bytes({1}), ProxyReply::kNeedMore},
        {2, bytes({1, 1}), ProxyReply::kFail},
        {2, bytes({5, 0}), ProxyReply::kFail},
    };
    for (const Case& c : cases) {
        int n = static_cast<int>(c.reply.size());
        int method = -1;
        ProxyReply result = c.kind == 4   ? socks4_reply(raw(c.reply), n, ip, &port)
                            : c.kind == 5 ? socks5_reply(raw(c.reply), n, ip, &port)
                            : c.kind == 1 ? socks5_method_reply(raw(c.reply), n, &method)
                                          : socks5_login_reply(raw(c.reply), n);
        EXPECT_EQ(c.result, result) << c.kind << " " << n;
        if (c.result == ProxyReply::kOk && (c.kind == 4 || c.kind == 5)) {
            EXPECT_EQ(80, port);
            EXPECT_EQ(bytes({1, 2, 3, 4}), text(ip, 4));
        }
    }
}

// A bound address given as a name or as IPv6 is legal (RFC 1928): it is
// read whole and discarded, the target's address and port stay.
TEST(SocksReplies, NameAndIpv6BoundAddressesAreReadAndDiscarded) {
    const std::string name = bytes({5, 0, 0, 3, 13}) + "proxy.example" + bytes({0x1F, 0x90});
    const std::string ipv6 = bytes({5, 0, 0, 4}) + std::string(15, '\0') + bytes({1, 0x1F, 0x90});
    for (const std::string& reply : {name, ipv6}) {
        int total = static_cast<int>(reply.size());
        uint8_t ip[4] = {9, 8, 7, 6};
        int port = 4662;
        for (int n = 0; n < total; n++) {
            EXPECT_EQ(ProxyReply::kNeedMore, socks5_reply(raw(reply), n, ip, &port)) << n;
            // A read of the length known so far never takes a byte past the reply.
            int length = socks5_reply_length(raw(reply), n);
            EXPECT_GT(length, n);
            EXPECT_LE(length, total);
        }
        EXPECT_EQ(total, socks5_reply_length(raw(reply), total));
        EXPECT_EQ(ProxyReply::kOk, socks5_reply(raw(reply), total, ip, &port));
        EXPECT_EQ(bytes({9, 8, 7, 6}), text(ip, 4));
        EXPECT_EQ(4662, port);
    }
}

}  // namespace
