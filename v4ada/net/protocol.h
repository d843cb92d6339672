// The network protocol object: resolves host names, opens connections and
// listening sockets, and makes socket sets. With a proxy configured,
// outgoing TCP connections go through it and nothing listens.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <vector>

#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class i4_address;
class i4_socket;
class i4_socket_set;
class i4_tcpip_address;
class ProxySettings;

// The local host as the name service knows it.
struct HostInfo {
    OwnedString name;
    std::vector<OwnedString> aliases;
    std::vector<uint32_t> addresses;  // IPv4 values: the bytes in dotted order
};

class i4_protocol {
public:
    i4_protocol();
    virtual ~i4_protocol();
    i4_protocol(const i4_protocol&) = delete;
    i4_protocol& operator=(const i4_protocol&) = delete;

    virtual const char* name() const = 0;
    virtual int query1() { return 0; }
    virtual i4_socket_set* newSocketSet() = 0;
    virtual int query3() { return 0; }
    // A new address with port 0, or null.
    virtual i4_address* resolve(const char* host) = 0;
    // A new socket connected (wait) or connecting (no wait) to the
    // address, or null.
    virtual i4_socket* connect(const i4_address* address, int type, bool wait) = 0;
    // False when the lookup fails.
    virtual bool localHostInfo(HostInfo* info) = 0;
    // A socket bound to the port on every local address (and listening,
    // for a stream socket), or null.
    virtual i4_socket* listen(int port, int timeoutMs, int type, const i4_address* target) = 0;

protected:
    ProxySettings* proxy_ TS_GUARDED_BY(lock_);  // owned, never null
    SysMutex lock_;
};

class i4_tcpip_protocol : public i4_protocol {
public:
    // Backlog of listening stream sockets.
    static constexpr int kListenBacklog = 128;
    // Time a connect with wait allows the proxy handshake.
    static constexpr int kProxyHandshakeMs = 15000;

    // A protocol with its own copy of the settings (null: no proxy).
    static i4_tcpip_protocol* create(int ignored, const ProxySettings* settings);
    // Replaces the held settings with a copy of settings (null: no proxy).
    void setProxy(const ProxySettings* settings);

    const char* name() const override { return "TCP/IP"; }
    i4_socket_set* newSocketSet() override;
    i4_address* resolve(const char* host) override;
    i4_socket* connect(const i4_address* address, int type, bool wait) override;
    bool localHostInfo(HostInfo* info) override;
    i4_socket* listen(int port, int timeoutMs, int type, const i4_address* target) override;

    // The local address listen binds to, in network order; every local
    // address (INADDR_ANY) unless a test narrows it to the loopback.
    void setBindAddress(uint32_t address) { bindAddress_ = address; }

private:
    uint32_t bindAddress_ = 0;
};

// Longest host text resolve takes.
constexpr int kMaxHostText = 255;

// How a host text reads. Only a strict dotted quad is an address ("1.2.3.4";
// not "127.1", "0x7f.1", "01.2.3.4" or "1.2.3.4 x"); a name has only
// letters, digits, '-', '_' and '.', and a last label that is not a number;
// anything else (empty, too long, other characters) is neither.
enum class HostText { kInvalid, kDottedQuad, kName };
HostText classify_host(const char* host, in_addr* dotted);

// A dotted IPv4 address, else the first IPv4 address a lookup of the name
// finds; null when there is none or the text is neither. Safe to call from
// several threads.
i4_tcpip_address* resolve_ipv4(const char* host);
