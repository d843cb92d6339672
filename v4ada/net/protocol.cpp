#include "v4ada/net/protocol.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "v4ada/net/address.h"
#include "v4ada/net/proxy.h"
#include "v4ada/net/proxy_settings.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket.h"
#include "v4ada/net/socket_set.h"

i4_protocol::i4_protocol() : proxy_(ProxySettings::makeDefault()) {}

i4_protocol::~i4_protocol() { delete proxy_; }

i4_tcpip_protocol* i4_tcpip_protocol::create(int /*ignored*/, const ProxySettings* settings) {
    auto* protocol = new i4_tcpip_protocol();
    protocol->setProxy(settings);
    return protocol;
}

void i4_tcpip_protocol::setProxy(const ProxySettings* settings) {
    SysMutexGuard guard(&lock_);
    delete proxy_;
    proxy_ = settings != nullptr ? settings->clone() : ProxySettings::makeDefault();
}

i4_socket_set* i4_tcpip_protocol::newSocketSet() { return new linux_socket_set(); }

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex_digit(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool is_name_char(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_' || c == '.';
}

// Whether a label is a number (decimal, or hex with "0x"): a text ending
// in one can only be meant as an address.
bool is_number_label(const char* begin, const char* end) {
    if (begin == end) return false;
    if (end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
        for (const char* p = begin + 2; p < end; p++)
            if (!is_hex_digit(*p)) return false;
        return true;
    }
    for (const char* p = begin; p < end; p++)
        if (!is_digit(*p)) return false;
    return true;
}

}  // namespace

HostText classify_host(const char* host, in_addr* dotted) {
    if (host == nullptr) return HostText::kInvalid;
    size_t length = strnlen(host, kMaxHostText + 1);
    if (length == 0 || length > static_cast<size_t>(kMaxHostText)) return HostText::kInvalid;
    in_addr parsed;
    if (inet_pton(AF_INET, host, &parsed) == 1) {
        if (dotted != nullptr) *dotted = parsed;
        return HostText::kDottedQuad;
    }
    for (size_t i = 0; i < length; i++)
        if (!is_name_char(host[i])) return HostText::kInvalid;
    const char* end = host + length;
    if (end[-1] == '.') end--;  // a fully qualified name's root dot
    const char* last = end;
    while (last > host && last[-1] != '.') last--;
    return is_number_label(last, end) ? HostText::kInvalid : HostText::kName;
}

i4_tcpip_address* resolve_ipv4(const char* host) {
    in_addr dotted;
    HostText kind = classify_host(host, &dotted);
    if (kind == HostText::kInvalid) return nullptr;
    if (kind == HostText::kDottedQuad) {
        sockaddr_in address;
        std::memset(&address, 0, sizeof(address));
        address.sin_family = AF_INET;
        address.sin_addr = dotted;
        return new i4_tcpip_address(address);
    }
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return nullptr;
    i4_tcpip_address* result = nullptr;
    for (addrinfo* item = found; item != nullptr; item = item->ai_next) {
        if (item->ai_family == AF_INET && item->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in address;
            std::memcpy(&address, item->ai_addr, sizeof(address));
            address.sin_port = 0;
            result = new i4_tcpip_address(address);
            break;
        }
    }
    freeaddrinfo(found);
    return result;
}

i4_address* i4_tcpip_protocol::resolve(const char* host) {
    int type;
    {
        SysMutexGuard guard(&lock_);
        type = proxy_->type;
    }
    if (type == kProxySocks5 || type == kProxyHttp) {
        in_addr dotted;
        HostText kind = classify_host(host, &dotted);
        if (kind == HostText::kInvalid) return nullptr;
        // The proxy resolves the name; a dotted text still gives its address.
        auto* address = new i4_proxy_address(host, 0);
        if (kind == HostText::kDottedQuad) {
            sockaddr_in plain = address->socketAddress();
            plain.sin_addr = dotted;
            address->setSocketAddress(plain);
        }
        return address;
    }
    return resolve_ipv4(host);
}

i4_socket* i4_tcpip_protocol::connect(const i4_address* address, int type, bool wait) {
    const auto* target = dynamic_cast<const i4_tcpip_address*>(address);
    if (target == nullptr) return nullptr;
    // The settings are read under the lock; the blocking calls run without
    // it, so one slow proxy does not hold up every other connection.
    int proxyType;
    OwnedString user(static_cast<const char*>(nullptr));
    OwnedString password(static_cast<const char*>(nullptr));
    i4_tcpip_address* peer = nullptr;
    {
        SysMutexGuard guard(&lock_);
        proxyType = proxy_->type;
        if (proxyType != kProxyNone) {
            if (proxy_->proxyAddress() == nullptr) {
                i4_tcpip_address* resolved = resolve_ipv4(proxy_->host());
                if (resolved != nullptr) resolved->setPort(proxy_->port);
                proxy_->setProxyAddress(resolved);
            }
            if (proxy_->proxyAddress() != nullptr) {
                peer = static_cast<i4_tcpip_address*>(proxy_->proxyAddress()->clone());
            }
            user = proxy_->user();
            password = proxy_->password();
        } else if (target->hostName() == nullptr || target->socketAddress().sin_addr.s_addr != 0) {
            // A name kept for a proxy that is gone has no address to use.
            peer = static_cast<i4_tcpip_address*>(target->clone());
        }
    }
    if (peer == nullptr) return nullptr;
    auto* socket = new i4_tcpip_sock(type);
    if (socket->createFailed()) {
        delete socket;
        delete peer;
        return nullptr;
    }
    int started;
    if (!wait) {
        socket->setBlocking(false);
        started = socket->connectTo(peer);  // the caller waits for writable
    } else {
        started = socket->connectTo(peer);
    }
    delete peer;
    if (wait && started != 0) {
        delete socket;
        return nullptr;
    }
    if (proxyType == kProxyNone) return socket;
    int first = proxyType == kProxySocks4 ? kProxySocks4Send
                : proxyType == kProxySocks5 ? kProxySocks5Greeting
                                            : kProxyHttpSend;
    auto* proxied = new i4_proxy_sock(socket, first, target, user.c_str(), password.c_str());
    if (wait && proxied->waitUntil(kWritable, kProxyHandshakeMs, nullptr) != kWritable) {
        delete proxied;
        return nullptr;
    }
    return proxied;
}

i4_socket* i4_tcpip_protocol::listen(int port, int /*timeoutMs*/, int type, const i4_address* /*target*/) {
    {
        // Nothing listens through a proxy: fail before contacting it.
        SysMutexGuard guard(&lock_);
        if (proxy_->type != kProxyNone) return nullptr;
    }
    auto* socket = new i4_tcpip_sock(type);
    if (socket->createFailed()) {
        delete socket;
        return nullptr;
    }
    int descriptor = socket->descriptor();
    // Only stream listeners share their port with sockets still closing; a
    // datagram port taken by another socket must make the bind fail.
    if (type == kSocketStream) {
        int on = 1;
        if (setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0) {
            delete socket;
            return nullptr;
        }
    }
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = bindAddress_;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        (type == kSocketStream && ::listen(descriptor, kListenBacklog) != 0)) {
        delete socket;
        return nullptr;
    }
    return socket;
}

bool i4_tcpip_protocol::localHostInfo(HostInfo* info) {
    char name[256];
    if (gethostname(name, sizeof(name)) != 0) return false;
    name[sizeof(name) - 1] = 0;
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    info->name = found->ai_canonname != nullptr ? found->ai_canonname : name;
    info->aliases.clear();
    info->addresses.clear();
    if (std::strcmp(name, info->name.c_str()) != 0) info->aliases.emplace_back(name);
    for (addrinfo* item = found; item != nullptr; item = item->ai_next) {
        if (item->ai_family != AF_INET || item->ai_addrlen < sizeof(sockaddr_in)) continue;
        sockaddr_in address;
        std::memcpy(&address, item->ai_addr, sizeof(address));
        uint32_t value = address.sin_addr.s_addr;
        bool seen = false;
        for (uint32_t known : info->addresses) seen = seen || known == value;
        if (!seen) info->addresses.push_back(value);
    }
    freeaddrinfo(found);
    return true;
}
