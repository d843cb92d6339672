#include "v4ada/net/proxy_handshake.h"

#include <cstdio>
#include <cstring>

const uint8_t kSocks5Greeting[kSocks5GreetingLength] = {5, 2, kSocks5MethodNone, kSocks5MethodLogin};

int base64_encode(const uint8_t* data, int n, char* out, int capacity) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (n < 0) return -1;
    long long needed = (static_cast<long long>(n) + 2) / 3 * 4;
    if (needed + 1 > capacity) return -1;
    int length = 0;
    for (int i = 0; i < n; i += 3) {
        uint32_t block = static_cast<uint32_t>(data[i]) << 16;
        if (i + 1 < n) block |= static_cast<uint32_t>(data[i + 1]) << 8;
        if (i + 2 < n) block |= data[i + 2];
        out[length++] = kAlphabet[(block >> 18) & 63];
        out[length++] = kAlphabet[(block >> 12) & 63];
        out[length++] = i + 1 < n ? kAlphabet[(block >> 6) & 63] : '=';
        out[length++] = i + 2 < n ? kAlphabet[block & 63] : '=';
    }
    out[length] = 0;
    return length;
}

namespace {

// Appends text to out at *length; false when it does not fit.
bool append(char* out, int capacity, int* length, const char* text) {
    size_t n = std::strlen(text);
    if (static_cast<long long>(*length) + static_cast<long long>(n) >= capacity) return false;
    std::memcpy(out + *length, text, n);
    *length += static_cast<int>(n);
    out[*length] = 0;
    return true;
}

}  // namespace

int http_connect_request(const char* target, int port, const char* hostName, const char* user,
                         const char* password, char* out, int capacity) {
    if (target == nullptr || capacity <= 0) return -1;
    if (hostName == nullptr) hostName = target;
    int length = 0;
    out[0] = 0;
    char portText[16];
    std::snprintf(portText, sizeof(portText), ":%d", port);
    if (!append(out, capacity, &length, "CONNECT ") || !append(out, capacity, &length, target) ||
        !append(out, capacity, &length, portText) ||
        !append(out, capacity, &length,
                " HTTP/1.0\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.0; Windows 98)\r\nHost: ") ||
        !append(out, capacity, &length, hostName) ||
        !append(out, capacity, &length,
                "\r\nContent-Length: 0\r\nProxy-Connection: Keep-Alive\r\nPragma: no-cache\r\n")) {
        return -1;
    }
    if (user != nullptr && user[0] != 0) {
        char credentials[kHttpCredentialsBuffer];
        int n = std::snprintf(credentials, sizeof(credentials), "%s:%s", user, password != nullptr ? password : "");
        if (n < 0 || n >= kHttpCredentialsBuffer) return -1;
        char encoded[(kHttpCredentialsBuffer + 2) / 3 * 4 + 1];
        if (base64_encode(reinterpret_cast<const uint8_t*>(credentials), n, encoded, sizeof(encoded)) < 0) return -1;
        if (!append(out, capacity, &length, "Proxy-authorization: Basic ") ||
            !append(out, capacity, &length, encoded) || !append(out, capacity, &length, "\r\n")) {
            return -1;
        }
    }
    if (!append(out, capacity, &length, "\r\n")) return -1;
    return length;
}

ProxyReply http_proxy_reply(const uint8_t* data, int n, int* status, int* headerLength) {
    *status = 0;
    // The header ends with a line feed followed by an empty line.
    int end = -1;
    for (int i = 0; i < n && end < 0; i++) {
        if (data[i] != '\n') continue;
        if (i + 1 < n && data[i + 1] == '\n') end = i + 2;
        else if (i + 2 < n && data[i + 1] == '\r' && data[i + 2] == '\n') end = i + 3;
    }
    if (end < 0) return n >= kHttpProxyBuffer - 1 ? ProxyReply::kFail : ProxyReply::kNeedMore;
    if (end > kHttpProxyBuffer - 1) return ProxyReply::kFail;
    // Status: the number after the first blank of the first line.
    int i = 0;
    while (i < end && data[i] != ' ' && data[i] != '\n') i++;
    if (i >= end || data[i] != ' ') return ProxyReply::kFail;
    while (i < end && data[i] == ' ') i++;
    int code = 0;
    int digits = 0;
    while (i < end && data[i] >= '0' && data[i] <= '9' && digits < 4) {
        code = code * 10 + (data[i] - '0');
        i++;
        digits++;
    }
    if (digits == 0) return ProxyReply::kFail;
    *status = code;
    if (headerLength != nullptr) *headerLength = end;
    return code == 200 ? ProxyReply::kOk : ProxyReply::kFail;
}

int socks4_request(int command, int port, const uint8_t ip[4], const char* hostName, uint8_t* out,
                   int capacity) {
    int nameLength = 0;
    if (hostName != nullptr) {
        size_t n = std::strlen(hostName);
        if (n > static_cast<size_t>(kSocksMaxField)) return -1;
        nameLength = static_cast<int>(n);
    }
    int length = 9 + (hostName != nullptr ? nameLength + 1 : 0);
    if (length > capacity) return -1;
    out[0] = 4;
    out[1] = static_cast<uint8_t>(command);
    out[2] = static_cast<uint8_t>((port >> 8) & 0xFF);
    out[3] = static_cast<uint8_t>(port & 0xFF);
    if (hostName != nullptr) {
        out[4] = 0;
        out[5] = 0;
        out[6] = 0;
        out[7] = 1;
    } else {
        std::memcpy(out + 4, ip, 4);
    }
    out[8] = 0;  // empty user id
    if (hostName != nullptr) {
        std::memcpy(out + 9, hostName, nameLength);
        out[9 + nameLength] = 0;
    }
    return length;
}

ProxyReply socks4_reply(const uint8_t* data, int n, uint8_t ip[4], int* port) {
    if (n >= 1 && data[0] != 0 && data[0] != 4) return ProxyReply::kFail;
    if (n >= 2 && data[1] != kSocks4Granted) return ProxyReply::kFail;
    if (n < kSocks4ReplyLength) return ProxyReply::kNeedMore;
    *port = (data[2] << 8) | data[3];
    std::memcpy(ip, data + 4, 4);
    return ProxyReply::kOk;
}

ProxyReply socks5_method_reply(const uint8_t* data, int n, int* method) {
    if (n >= 1 && data[0] != 5) return ProxyReply::kFail;
    if (n < 2) return ProxyReply::kNeedMore;
    if (data[1] != kSocks5MethodNone && data[1] != kSocks5MethodLogin) return ProxyReply::kFail;
    *method = data[1];
    return ProxyReply::kOk;
}

int socks5_login_request(const char* user, const char* password, uint8_t* out, int capacity) {
    if (user == nullptr || password == nullptr) return -1;
    size_t userLength = std::strlen(user);
    size_t passwordLength = std::strlen(password);
    if (userLength > static_cast<size_t>(kSocksMaxField) || passwordLength > static_cast<size_t>(kSocksMaxField)) {
        return -1;
    }
    int length = 3 + static_cast<int>(userLength + passwordLength);
    if (length > capacity) return -1;
    out[0] = 1;
    out[1] = static_cast<uint8_t>(userLength);
    std::memcpy(out + 2, user, userLength);
    out[2 + userLength] = static_cast<uint8_t>(passwordLength);
    std::memcpy(out + 3 + userLength, password, passwordLength);
    return length;
}

ProxyReply socks5_login_reply(const uint8_t* data, int n) {
    if (n >= 1 && data[0] != 1) return ProxyReply::kFail;
    if (n >= 2 && data[1] != 0) return ProxyReply::kFail;
    return n < 2 ? ProxyReply::kNeedMore : ProxyReply::kOk;
}

int socks5_request(int command, int port, const uint8_t ip[4], const char* hostName, uint8_t* out,
                   int capacity) {
    int nameLength = 0;
    if (hostName != nullptr) {
        size_t n = std::strlen(hostName);
        if (n > static_cast<size_t>(kSocksMaxField)) return -1;
        nameLength = static_cast<int>(n);
    }
    int length = hostName != nullptr ? 4 + 1 + nameLength + 2 : 4 + 4 + 2;
    if (length > capacity) return -1;
    out[0] = 5;
    out[1] = static_cast<uint8_t>(command);
    out[2] = 0;
    int at = 4;
    if (hostName != nullptr) {
        out[3] = 3;
        out[at++] = static_cast<uint8_t>(nameLength);
        std::memcpy(out + at, hostName, nameLength);
        at += nameLength;
    } else {
        out[3] = 1;
        std::memcpy(out + at, ip, 4);
        at += 4;
    }
    out[at++] = static_cast<uint8_t>((port >> 8) & 0xFF);
    out[at++] = static_cast<uint8_t>(port & 0xFF);
    return at;
}

namespace {

// SOCKS5 address types of a reply.
constexpr uint8_t kSocks5AddressIpv4 = 1;
constexpr uint8_t kSocks5AddressName = 3;
constexpr uint8_t kSocks5AddressIpv6 = 4;
// Version, reply, reserved, address type; the port after the address.
constexpr int kSocks5ReplyHead = 4;
constexpr int kSocks5PortLength = 2;
// The shortest possible reply: a name of length 0.
constexpr int kSocks5ReplyMinLength = kSocks5ReplyHead + 1 + kSocks5PortLength;

}  // namespace

int socks5_reply_length(const uint8_t* data, int n) {
    if (n <= kSocks5ReplyHead) return kSocks5ReplyHead + 1;  // the type and a first address byte
    switch (data[3]) {
        case kSocks5AddressIpv4:
            return kSocks5ReplyLength;
        case kSocks5AddressIpv6:
            return kSocks5ReplyHead + 16 + kSocks5PortLength;
        case kSocks5AddressName:
            return kSocks5ReplyMinLength + data[kSocks5ReplyHead];
        default:
            return kSocks5ReplyMinLength;  // refused by the parser anyway
    }
}

ProxyReply socks5_reply(const uint8_t* data, int n, uint8_t ip[4], int* port) {
    if (n >= 1 && data[0] != 5) return ProxyReply::kFail;
    if (n >= 2 && data[1] != 0) return ProxyReply::kFail;
    if (n >= 4 && data[3] != kSocks5AddressIpv4 && data[3] != kSocks5AddressName && data[3] != kSocks5AddressIpv6)
        return ProxyReply::kFail;
    if (n <= kSocks5ReplyHead || n < socks5_reply_length(data, n)) return ProxyReply::kNeedMore;
    if (data[3] == kSocks5AddressIpv4) {
        std::memcpy(ip, data + kSocks5ReplyHead, 4);
        *port = (data[8] << 8) | data[9];
    }
    return ProxyReply::kOk;
}
