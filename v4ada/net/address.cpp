#include "v4ada/net/address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstring>

#include "v4ada/file/file.h"

i4_tcpip_address::i4_tcpip_address() {
    std::memset(&address_, 0, sizeof(address_));
    address_.sin_family = AF_INET;
}

i4_tcpip_address::i4_tcpip_address(const sockaddr_in& address) : address_(address) {}

i4_tcpip_address::i4_tcpip_address(const uint8_t ip[4], int port) : i4_tcpip_address() {
    setIpBytes(ip);
    setPort(port);
}

i4_tcpip_address::~i4_tcpip_address() { delete[] hostName_; }

void i4_tcpip_address::ipBytes(uint8_t out[4]) const { std::memcpy(out, &address_.sin_addr.s_addr, 4); }

void i4_tcpip_address::setIpBytes(const uint8_t ip[4]) { std::memcpy(&address_.sin_addr.s_addr, ip, 4); }

void i4_tcpip_address::setHostName(const char* name) {
    delete[] hostName_;
    hostName_ = nullptr;
    if (name == nullptr) return;
    size_t n = std::strlen(name);
    hostName_ = new char[n + 1];
    std::memcpy(hostName_, name, n + 1);
}

void i4_tcpip_address::print(i4_file* file) const {
    uint8_t ip[4];
    ipBytes(ip);
    file->printf("%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
}

i4_address* i4_tcpip_address::clone() const { return new i4_tcpip_address(address_); }

void i4_tcpip_address::setPort(int port) { address_.sin_port = htons(static_cast<uint16_t>(port)); }

int i4_tcpip_address::port() const { return ntohs(address_.sin_port); }

bool i4_tcpip_address::equals(const i4_address* other) const {
    const auto* ip = dynamic_cast<const i4_tcpip_address*>(other);
    return ip != nullptr && ip->address_.sin_addr.s_addr == address_.sin_addr.s_addr;
}

void i4_tcpip_address::writeIp(i4_file* file) const { file->write(&address_.sin_addr.s_addr, 4); }

bool i4_tcpip_address::printHostName(i4_file* file) const {
    sockaddr_in query = address_;
    query.sin_port = 0;
    char name[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&query), sizeof(query), name, sizeof(name), nullptr, 0,
                    NI_NAMEREQD) != 0) {
        return false;
    }
    file->printf("%s", name);
    return true;
}

i4_proxy_address::i4_proxy_address(const char* name, int port) {
    setHostName(name);
    setPort(port);
}

void i4_proxy_address::print(i4_file* file) const {
    if (hostName() != nullptr) {
        file->printf("%s", hostName());
    } else {
        i4_tcpip_address::print(file);
    }
}

i4_address* i4_proxy_address::clone() const {
    auto* copy = new i4_proxy_address(hostName(), 0);
    copy->setSocketAddress(socketAddress());
    return copy;
}

bool i4_proxy_address::printHostName(i4_file* file) const {
    if (hostName() != nullptr) {
        file->printf("%s", hostName());
        return true;
    }
    return i4_tcpip_address::printHostName(file);
}
