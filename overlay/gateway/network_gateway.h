// NetworkGateway: the overlay's facade for the downloads, the transfer
// side and the console: publishing shared files, asking firewalled users
// to call back, per-download source searches, the firewall verdict and the
// buddy address that the client hello carries. The overlay gateway
// implements it; the operations that are not pure carry the base
// behaviour below, which an implementer may keep.
//
// One process-wide pointer reaches the installed gateway; it is null until
// start-up installs one, and then every caller uses the base answers
// itself (see the helpers at the end).
#pragma once

#include <cstdint>

class DownloadSources;
class FileMeta;
class UserMeta;

class NetworkGateway {
public:
    // Firewall states of firewallStatus.
    static constexpr int kOpen = 0;
    static constexpr int kFirewalled = 1;
    static constexpr int kUnknown = 2;

    virtual void start() = 0;
    virtual void stop() = 0;
    // Has a low-ID user call this client through its buddy; base: false.
    virtual bool askCallback(UserMeta* user);
    // Publishes a newly shared file (location and keywords); base: nothing.
    virtual void publishFile(FileMeta* file);
    // Base: false.
    virtual bool addServer(uint32_t ip, int port);
    // A new source search for one download, owned by the caller.
    virtual DownloadSources* newDownloadSources() = 0;
    // Publishes every shared file again; base: nothing.
    virtual void republishAll();
    // Whether nobody can reach the user over TCP (the connection's user
    // record); base: true.
    virtual bool isUnreachable(const UserMeta* user);
    // kOpen, kFirewalled or kUnknown.
    virtual int firewallStatus() = 0;
    // Base: returns the verdict.
    virtual int setFirewalled(int verdict);
    // Base: nothing.
    virtual void retestFirewall();
    // Base: stores the buddy address and port in the options' own record;
    // the flag is not used.
    virtual void setBuddy(uint32_t ip, int port, int flag);
    // Base: the own address of the options record.
    virtual uint32_t ownIp();
    // Base: the own TCP port of the options record.
    virtual int tcpPort();
    // Base: the buddy address of the options record.
    virtual uint32_t buddyIp();
    // Base: the buddy port of the options record.
    virtual int buddyPort();

protected:
    // The gateway is owned and deleted as its own type.
    ~NetworkGateway() = default;
};

// The installed gateway, or null. Any thread.
NetworkGateway* networkGateway();
// Returns the previous one; null uninstalls. Not owned.
NetworkGateway* setNetworkGateway(NetworkGateway* gateway);

// What callers that need an answer with no gateway installed use: the
// gateway's answer, or the base behaviour.
uint32_t gatewayBuddyIp();
int gatewayBuddyPort();
int gatewayTcpPort();
