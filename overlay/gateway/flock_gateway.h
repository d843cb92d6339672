// FlockGateway: the overlay node: the owner of its parts and the way
// everything else reaches them. Everything node-specific (the own node,
// the endpoint, the user interface it reports to, the blacklist, the
// routing table, the lookups, the index, the firewall test, the buddies,
// the publisher) belongs to one gateway, so that several gateways can run
// in one process; the process around it is reached through its FlockHost.
// The downloads, the transfer side and the console reach it as their
// NetworkGateway.
//
// Lifecycle: construction (the endpoint, routing table and reply server
// do not exist yet); start (own node, routing table, reply server,
// endpoint, peer-event handlers, tasks, bus codes, booting); stop
// (contact.dat and the UDP port saved, every lookup, requester and call
// request ended while the reply server and the user interface still
// exist, then routing table and reply server deleted and the endpoint let
// go; the peer-event handlers stay, so connections that close later are
// still heard); destruction (handlers and bus codes given back). The peer
// link and the bus must outlive the gateway. Everything runs on the task
// thread; the gateway takes no lock.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "core/ui/flock_ui.h"
#include "overlay/firewall/buddy_list.h"
#include "overlay/firewall/call_asker.h"
#include "overlay/firewall/firewall_task.h"
#include "overlay/gateway/flock_handler.h"
#include "overlay/gateway/flock_self.h"
#include "overlay/gateway/network_gateway.h"
#include "overlay/gateway/stat_logger.h"
#include "overlay/index/service_cleaner.h"
#include "overlay/index/service_directory.h"
#include "overlay/index/service_publisher.h"
#include "overlay/index/sources_dispatcher.h"
#include "overlay/requests/explorer_list.h"
#include "overlay/requests/flock_server.h"
#include "overlay/routing/booter.h"
#include "overlay/routing/contact_refresher.h"
#include "overlay/routing/node_list.h"

class BlackUDPAnnex;
class ContactList;
class FlockHost;
class FlockReplyServer;
class MessageQ;
class PeerLink;
class RequestCounter;
class Requester;
class ResultCallback;
class ServiceSearch;
class UDPPacket;

constexpr int kUdpSocketTimeoutMs = 2000;
// Users whose address is below this cannot be reached (isUnreachable).
constexpr uint32_t kUnreachableAddressBelow = 5001;

class FlockGateway : public NetworkGateway {
public:
    explicit FlockGateway(FlockHost& host);
    virtual ~FlockGateway();
    FlockGateway(const FlockGateway&) = delete;
    FlockGateway& operator=(const FlockGateway&) = delete;

    // The saved state's steps of the application: load rebuilds the
    // location link; save has nothing to write (contact.dat and the UDP
    // port go at stop).
    void load() { updateLocation(); }
    void save() {}

    // NetworkGateway.
    void start() override;
    void stop() override;
    bool askCallback(UserMeta* user) override;
    // The file's location, then up to six keywords of its name.
    void publishFile(FileMeta* file) override;
    DownloadSources* newDownloadSources() override;
    // Retests the firewall, then publishes the location of every shared
    // file (from the installed shared-hash provider).
    void republishAll() override;
    bool isUnreachable(const UserMeta* user) override;
    int firewallStatus() override { return firewall_.status(); }
    int setFirewalled(int verdict) override;
    void retestFirewall() override { firewall_.restartTest(); }
    // Into the options' own record (through the host).
    void setBuddy(uint32_t ip, int port, int flag) override;
    uint32_t ownIp() override { return self_.ip(); }
    uint32_t buddyIp() override { return firewall_.buddyIp(); }
    int buddyPort() override { return firewall_.buddyPort(); }

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

    int buddyCount() const { return buddies_.count(); }

    // Rebuilds the location link; a changed link goes into every location
    // service, which is published again when a location can be.
    void updateLocation();
    const OwnedString& location() const { return location_; }
    // A copy of the service joins the publisher's queue (at its head when
    // front) with interval factor x 5 hours; returns 1.
    int publish(Service* service, bool front, double factor);
    void unpublish(Service* service);
    // A new search requester (two nodes) taking the search over; returns 1,
    // also when a stopped gateway deletes the search instead.
    int startSearch(ServiceSearch* search, ResultCallback* callback);
    // The same through one given node (taken over); returns 1.
    int searchNode(Node* node, ServiceSearch* search, ResultCallback* callback);

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
    FirewallTask& firewall() { return firewall_; }
    BuddyList& buddies() { return buddies_; }
    CallAsker& callAsker() { return callAsker_; }
    ServicePublisher& publisher() { return publisher_; }
    SourcesDispatcher& sourcesDispatcher() { return dispatcher_; }
    FlockHandler& handler() { return handler_; }

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

    FlockHandler handler_;
    SourcesDispatcher dispatcher_;
    PeerLink* links_ = nullptr;  // where the handlers were added
    MessageQ* bus_ = nullptr;    // where the handler subscribed

    // Before the parts that are handed it.
    ServiceDirectory directory_;
    StatLogger statLogger_;
    CallAsker callAsker_;
    FlockServer server_;
    ServiceCleaner cleaner_;
    Booter booter_;
    BuddyList buddies_;
    NodeList blacklist_;
    std::unordered_set<uint64_t> blacklisted_;  // blacklist addresses
    OwnedString location_;
    // The link last given to the published location services.
    OwnedString pushedLocation_;
    BlackUDPAnnex* endpoint_ = nullptr;
    ContactList* contacts_ = nullptr;
    ExplorerList explorers_;
    FirewallTask firewall_;
    ServicePublisher publisher_;
    ContactRefresher refresher_;
    FlockReplyServer* replyServer_ = nullptr;
};

// The program's gateway for the console and the remote controller, or
// null. Any thread.
FlockGateway* flockGateway();
// Returns the previous one; null uninstalls. Not owned.
FlockGateway* setFlockGateway(FlockGateway* gateway);
