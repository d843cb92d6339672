// Network addresses: the abstract i4_address, the IPv4 i4_tcpip_address
// and i4_proxy_address, which keeps a host name for a proxy to resolve.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "v4ada/file/printable.h"

class i4_file;

class i4_address : public i4_printable {
public:
    virtual i4_address* clone() const = 0;
    // Port in host order.
    virtual void setPort(int port) = 0;
    virtual int port() const = 0;
    virtual bool equals(const i4_address* other) const = 0;
    // Writes the 4 address bytes in network (dotted) order.
    virtual void writeIp(i4_file* file) const = 0;
    // Prints the host name of the address; false when none is known.
    virtual bool printHostName(i4_file* file) const = 0;
    ~i4_address() override = default;
};

class i4_tcpip_address : public i4_address {
public:
    i4_tcpip_address();
    explicit i4_tcpip_address(const sockaddr_in& address);
    // The 4 address bytes in dotted order and a port in host order.
    i4_tcpip_address(const uint8_t ip[4], int port);
    ~i4_tcpip_address() override;
    i4_tcpip_address(const i4_tcpip_address&) = delete;
    i4_tcpip_address& operator=(const i4_tcpip_address&) = delete;

    // "%d.%d.%d.%d" of the address bytes.
    void print(i4_file* file) const override;
    // A copy of the socket address only (no host name).
    i4_address* clone() const override;
    void setPort(int port) override;
    int port() const override;
    // Compares the 4 address bytes; ports are ignored.
    bool equals(const i4_address* other) const override;
    void writeIp(i4_file* file) const override;
    // Reverse lookup of the address bytes.
    bool printHostName(i4_file* file) const override;

    const sockaddr_in& socketAddress() const { return address_; }
    void setSocketAddress(const sockaddr_in& address) { address_ = address; }
    // The 4 address bytes in dotted order.
    void ipBytes(uint8_t out[4]) const;
    void setIpBytes(const uint8_t ip[4]);
    // Heap text or null; only proxy addresses carry one.
    const char* hostName() const { return hostName_; }

protected:
    // Stores a copy of name (null clears it).
    void setHostName(const char* name);

private:
    sockaddr_in address_;
    char* hostName_ = nullptr;
};

class i4_proxy_address : public i4_tcpip_address {
public:
    i4_proxy_address(const char* name, int port);

    // The host name when there is one, else the dotted address.
    void print(i4_file* file) const override;
    // A copy with the host name and the socket address.
    i4_address* clone() const override;
    // Writes the host name when there is one, else a reverse lookup.
    bool printHostName(i4_file* file) const override;
};
