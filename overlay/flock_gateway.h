// FlockGateway: the overlay node: the owner of its parts and the way
// everything else reaches them. Everything node-specific (the own node,
// the endpoint, the user interface it reports to, the blacklist, the
// routing table, the lookups, the index) belongs to one gateway, so that
// several gateways can run in one process; the process around it is
// reached through its FlockHost.
//
// Lifecycle: construction (the endpoint, routing table and reply server
// do not exist yet); start (own node, routing table, reply server,
// endpoint, tasks, booting); stop (contact.dat and the UDP port saved,
// every lookup and requester ended while the reply server and the user
// interface still exist, then routing table and reply server deleted and
// the endpoint let go); destruction. Everything runs on the task thread;
// the gateway takes no lock.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "core/ui/flock_ui.h"
#include "overlay/booter.h"
#include "overlay/contact_refresher.h"
#include "overlay/explorer_list.h"
#include "overlay/flock_self.h"
#include "overlay/flock_server.h"
#include "overlay/network_gateway.h"
#include "overlay/node_list.h"
#include "overlay/service_cleaner.h"
#include "overlay/service_directory.h"

class BlackUDPAnnex;
class ContactList;
class FlockHost;
class FlockReplyServer;
class RequestCounter;
class Requester;
class UDPPacket;

constexpr int kUdpSocketTimeoutMs = 2000;

class FlockGateway {
public:
    explicit FlockGateway(FlockHost& host);
    virtual ~FlockGateway();
    FlockGateway(const FlockGateway&) = delete;
    FlockGateway& operator=(const FlockGateway&) = delete;

    void start();
    void stop();
    bool running() const { return running_; }
    // True while stop ends the lookups and requesters: nothing new starts.
    bool stopping() const { return stopping_; }

    // A new endpoint on the own UDP port; the old one (if any) is let go.
    // Without a socket the overlay runs without an endpoint.
    void createUdpSocket(int timeoutMs, uint8_t marker);
    // The node goes on the blacklist (never removed, never saved) and out
    // of the routing table.
    void blacklistNode(const Node* node);
    bool isBlacklisted(uint32_t ip, int port) const;
    // A hello lookup for the own identifier (20 nodes).
    void helloLookup();
    // The 49-byte check message (opcode 31 or 32) to the address.
    void sendCheck(const char* address, int port, int opcode);
    void sendCheck(uint32_t ip, int port, int opcode);
    // Boots again with that dotted address added to the boot list.
    void bootFrom(const char* address, int port);

    // The user interface this gateway reports to; null silences it.
    void setUI(FlockUI* ui) { ui_ = ui; }
    FlockUI& ui() { return ui_ != nullptr ? *ui_ : silentUI_; }

    // estimateSize x 3.5 and estimateSize x stored services / 10, truncated
    // and saturated at UINT32_MAX.
    uint32_t estimatedUsers();
    uint32_t estimatedFiles();

    // Until the firewall test and the buddy list exist: not yet known, and
    // no buddies.
    int firewallStatus() const { return NetworkGateway::kUnknown; }
    int buddyCount() const { return 0; }

    // A datagram to ip:port with the opcode written and room for
    // payloadLength more bytes (the marker is in front).
    UDPPacket* newPacket(uint32_t ip, int port, uint8_t opcode, int payloadLength);
    // Queued on the endpoint; dropped without one.
    void send(UDPPacket* packet);

    FlockHost& host() { return host_; }
    FlockSelf& self() { return self_; }
    const Node& ownNode() const { return self_.node(); }
    FlockServer& server() { return server_; }
    ServiceCleaner& cleaner() { return cleaner_; }
    Booter& booter() { return booter_; }
    NodeList& blacklist() { return blacklist_; }
    BlackUDPAnnex* endpoint() const { return endpoint_; }
    ContactList* contacts() const { return contacts_; }
    ExplorerList& explorers() { return explorers_; }
    ServiceDirectory& directory() { return directory_; }
    ContactRefresher& refresher() { return refresher_; }
    FlockReplyServer* replyServer() const { return replyServer_; }

    // The data collector's counting seam; none by default.
    void setRequestCounter(RequestCounter* counter) { counter_ = counter; }
    RequestCounter* requestCounter() const { return counter_; }

    // Live requesters by serial number (requesters register themselves).
    uint64_t trackRequester(Requester* requester);
    void untrackRequester(uint64_t serial) { requesters_.erase(serial); }
    Requester* liveRequester(uint64_t serial) const;
    int requesterCount() const { return static_cast<int>(requesters_.size()); }

private:
    // Ends every lookup and requester, lets the endpoint go, takes the tasks
    // off and deletes the routing table and the reply server.
    void release();
    void withdrawEndpoint();
    static uint64_t addressKey(uint32_t ip, int port) { return (static_cast<uint64_t>(ip) << 16) | (port & 0xFFFF); }

    FlockHost& host_;
    FlockSelf self_;
    FlockUI* ui_ = nullptr;
    FlockUI silentUI_;
    RequestCounter* counter_ = nullptr;
    std::unordered_map<uint64_t, Requester*> requesters_;
    uint64_t nextSerial_ = 0;
    bool running_ = false;
    bool stopping_ = false;

    FlockServer server_;
    ServiceCleaner cleaner_;
    Booter booter_;
    NodeList blacklist_;
    std::unordered_set<uint64_t> blacklisted_;  // blacklist addresses
    BlackUDPAnnex* endpoint_ = nullptr;
    ContactList* contacts_ = nullptr;
    ExplorerList explorers_;
    ServiceDirectory directory_;
    ContactRefresher refresher_;
    FlockReplyServer* replyServer_ = nullptr;
};
