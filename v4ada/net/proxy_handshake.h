// Proxy handshakes as pure functions over byte buffers: the requests of
// HTTP CONNECT, SOCKS4/4a and SOCKS5 (with RFC 1929 login) and the parsers
// of the proxies' replies. The parsers never look past n and tell whether
// a reply is complete, incomplete (more bytes to come) or refused.
#pragma once

#include <cstdint>

enum class ProxyReply {
    kNeedMore,  // a correct beginning; wait for more bytes
    kOk,
    kFail,
};

// Largest HTTP request and reply header; the reply buffer keeps one byte
// for a terminator.
constexpr int kHttpProxyBuffer = 1024;
// "user:password" of the Basic authorisation, terminator included.
constexpr int kHttpCredentialsBuffer = 256;
// Longest user, password or host name a SOCKS request carries.
constexpr int kSocksMaxField = 255;

// Base64 (RFC 4648 alphabet, '=' fill) of n bytes into out, terminated.
// The encoded length, or -1 when out (capacity bytes) is too small.
int base64_encode(const uint8_t* data, int n, char* out, int capacity);

// HTTP CONNECT request for target (printed form: host name or dotted
// address) and port, with a Basic authorisation line when user is not
// empty. Length written, or -1 when it does not fit in capacity.
int http_connect_request(const char* target, int port, const char* hostName, const char* user,
                         const char* password, char* out, int capacity);

// Reply header of an HTTP proxy: kOk for a complete header with status 200,
// kFail for any other status, a header that cannot be parsed or one longer
// than kHttpProxyBuffer - 1 bytes; kNeedMore until the blank line that ends
// the header. *headerLength (optional) gets the header's bytes on kOk.
ProxyReply http_proxy_reply(const uint8_t* data, int n, int* status, int* headerLength);

// SOCKS4 request: version 4 (u8), command (u8: 1 CONNECT), port (u16 BE),
// IPv4 (4 bytes, dotted order; 0.0.0.1 for SOCKS4a), empty user id (one 0),
// then for SOCKS4a the host name and a 0. -1 when it does not fit or the
// name is longer than kSocksMaxField.
constexpr int kSocks4ReplyLength = 8;  // version u8, status u8, port u16 BE, IPv4 4 bytes
constexpr uint8_t kSocks4Granted = 90;
int socks4_request(int command, int port, const uint8_t ip[4], const char* hostName, uint8_t* out,
                   int capacity);
// Needs kSocks4ReplyLength bytes; first byte 0 or 4, second 90 (granted).
// On kOk the reply's address and port (host order).
ProxyReply socks4_reply(const uint8_t* data, int n, uint8_t ip[4], int* port);

// SOCKS5 greeting: version 5, two methods, 0 (none), 2 (user and password).
constexpr int kSocks5GreetingLength = 4;
extern const uint8_t kSocks5Greeting[kSocks5GreetingLength];
constexpr int kSocks5MethodNone = 0;
constexpr int kSocks5MethodLogin = 2;
// Method choice (version 5, method u8): needs 2 bytes; kOk for method 0 or 2.
ProxyReply socks5_method_reply(const uint8_t* data, int n, int* method);
// RFC 1929 login: 1, user length u8, user, password length u8, password.
// -1 when a field is null, longer than kSocksMaxField, or out is too small.
int socks5_login_request(const char* user, const char* password, uint8_t* out, int capacity);
// Login answer (version 1, status u8): needs 2 bytes; kOk for status 0.
ProxyReply socks5_login_reply(const uint8_t* data, int n);
// Request: 5, command u8, 0, then type 3 + name length u8 + name, or type 1
// + IPv4 (4 bytes); port u16 BE. -1 when the name is longer than
// kSocksMaxField or out is too small.
int socks5_request(int command, int port, const uint8_t ip[4], const char* hostName, uint8_t* out,
                   int capacity);
// Reply: version 5, reply u8 (0 = succeeded), 0, the bound address (type
// u8, then 1: IPv4, 4 bytes; 3: name length u8 and name; 4: IPv6, 16
// bytes), port u16 BE. On kOk with an IPv4 address, ip and port get it; a
// name or an IPv6 address is read and discarded (ip and port unchanged).
constexpr int kSocks5ReplyLength = 10;       // with an IPv4 address
constexpr int kSocks5ReplyMaxLength = 262;   // with a name of 255 bytes
ProxyReply socks5_reply(const uint8_t* data, int n, uint8_t ip[4], int* port);
// Bytes the reply whose first n bytes are given takes in all, as far as
// they tell: never more than the reply, so a read of that many bytes takes
// nothing that follows it.
int socks5_reply_length(const uint8_t* data, int n);

constexpr int kProxyConnect = 1;  // the CONNECT command of both SOCKS versions
