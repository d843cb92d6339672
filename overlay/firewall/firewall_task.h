// FirewallTask: finds out whether other clients can open TCP connections
// to this one. 10000 ms after start three testers each ask a random
// contact to connect to the own door (INODE_FIREWALLCHECK); a tester
// first reports the address it sees (INODE_YOURIP), then whether the
// connection worked (INODE_FIREWALLOPEN or INODE_FIREWALLED). Two testers
// that report the same address set the own address; two equal answers
// decide. An open client enters itself into its routing table and
// publishes its locations; a firewalled one asks a contact to be its
// buddy (INODE_BUDDYREQUEST), keeps a TCP connection to it (pinged every
// 60000 ms), publishes a buddy record and its locations in the buddy form
// of the location link.
//
// States: 0 waiting to start, 1 testing, 2 looking for a buddy, 3 waiting
// for the buddy's connection, 4 settled. status() is the verdict in
// states 2 to 4 (0 open, 1 firewalled), else 2 (not yet known).
//
// Datagrams (after the opcode byte):
//   INODE_FIREWALLCHECK, sent:   0  2  the own TCP door port, u16
//   INODE_YOURIP, received:      0  4  the own address as the tester sees it, u32
//   INODE_FIREWALLOPEN / INODE_FIREWALLED, received: no payload
//   INODE_BUDDYREQUEST, sent:    0 23  the own node record
//   INODE_BUDDYACCEPT, received: 0  2  the buddy's TCP door port, u16
//   INODE_BUDDYREFUSE, received: no payload
//
// Task thread only.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "core/net/peer_event_handler.h"
#include "core/net/udp_annex.h"
#include "core/task/time_slice_task.h"
#include "overlay/id_key.h"
#include "overlay/routing/node.h"

class FlockGateway;
class FlockHost;
class FlockSelf;

constexpr int kFirewallStartMs = 10000;
// A tester's timer starts here when its check goes out, so it gives up
// 10000 ms after the check or 50000 ms after an INODE_YOURIP.
constexpr int kTesterCheckStartMs = 40000;
constexpr int kTesterGiveUpMs = 50000;
constexpr int kTesterCount = 3;
constexpr int kBuddyRequestRetryMs = 20000;
constexpr int kBuddyWaitMs = 120000;
constexpr int kBuddyPingMs = 60000;
// The timer a lost buddy leaves, so that the next tick asks again.
constexpr int kBuddyLostTimerMs = 1200000;
// Addresses up to this are low IDs (reached through a buddy).
constexpr uint32_t kLastLowIdAddress = 0xFFFFFF;
constexpr int kFirewallCheckSize = 2;
constexpr int kYourIpSize = 4;
constexpr int kBuddyAcceptSize = 2;
// The descId of the buddy record: only bit 1 set.
constexpr uint8_t kBuddyRecordMark = 0x40;
// Location services are republished after 0.4 x 5 hours.
constexpr double kLocationFactor = 0.4;

class FirewallTask : public TimeSliceTask, public UDPMessageHandler, public PeerEventHandler {
public:
    static constexpr int kWaiting = 0;
    static constexpr int kTesting = 1;
    static constexpr int kSeekingBuddy = 2;
    static constexpr int kAwaitingBuddy = 3;
    static constexpr int kSettled = 4;

    struct Tester {
        int state = 0;  // 0 no node yet, 2 asked, 3 answered or finished
        Node node;
        int32_t timer = 0;
        uint32_t reportedIp = 0;
        bool heardIp = false;  // this round's INODE_YOURIP came
        int answer = 2;        // 2 none, 0 open, 1 firewalled
    };

    FirewallTask(FlockGateway& gateway, FlockHost& host, FlockSelf& self)
        : gateway_(gateway), host_(host), self_(self) {}
    ~FirewallTask() = default;
    FirewallTask(const FirewallTask&) = delete;
    FirewallTask& operator=(const FirewallTask&) = delete;

    bool tick(int elapsedMs) override;
    // Opcodes 28, 29, 30, 22 and 23.
    bool handle(uint8_t opcode, UDPAnnex* annex, i4_ram_file_class* datagram, const i4_address* sender) override;
    void peerClosed(TCPConnection* connection) override;
    void connectFailed(uint32_t ip, uint16_t port) override;
    void newPeer(TCPConnection* connection) override;

    int status() const;
    // Nothing while testing; otherwise the test runs again from the start.
    void restartTest();
    // The verdict; node is the tester that decided (asked first for a
    // buddy), or null.
    void decide(bool firewalled, const Node* node);
    // Asks the node (a random contact when null) to be the buddy.
    void requestBuddy(const Node* node);
    void buddyConnected(TCPConnection* connection);
    // Publishes the location of the file now, or holds it until the
    // location can be published.
    void publishLocation(const UniqueID& hash);
    // The address of the buddy connection; 0 without one.
    uint32_t buddyIp();
    // Whether a location can be published now: a verdict, and for a
    // firewalled client a buddy connection, for an open one a high ID.
    bool canPublishLocation();
    // The buddy's UDP port while a buddy connection exists, else 0.
    int buddyPort() const { return buddy_ != nullptr ? buddyCandidate_.port : 0; }

    int state() const { return state_; }
    bool verdict() const { return verdict_; }
    const Tester& tester(int i) const { return testers_[i]; }
    const Node& buddyCandidate() const { return buddyCandidate_; }
    TCPConnection* buddyConnection() const { return buddy_; }
    int pendingCount() const { return static_cast<int>(pending_.size()); }

private:
    void tickTester(Tester& tester, int elapsedMs);
    void resetTesters();
    void settleTesters();
    Tester* testerFor(uint32_t ip, int port, bool forIp);
    void yourIp(i4_ram_file_class* reader, uint32_t ip, int port);
    void answer(int value, uint32_t ip, int port);
    void buddyAccept(i4_ram_file_class* reader, uint32_t ip, int port);
    bool fromCandidate(uint32_t ip, int port) const;
    void buddyLost();
    void publishLocationNow(const UniqueID& hash);
    void publishPending();

    FlockGateway& gateway_;
    FlockHost& host_;
    FlockSelf& self_;
    int state_ = kWaiting;
    int32_t timer_ = 0;
    bool verdict_ = false;
    Tester testers_[kTesterCount];
    Node buddyCandidate_;
    uint32_t buddyUserIp_ = 0;
    uint16_t buddyUserPort_ = 0;
    TCPConnection* buddy_ = nullptr;
    std::vector<UniqueID> pending_;
    std::unordered_set<IdKey, IdKeyHash> pendingSet_;
};
