// BuddyList: the serving side for firewalled clients. It tests other
// nodes' reachability for them (INODE_FIREWALLCHECK is answered with the
// address seen, INODE_YOURIP, then with INODE_FIREWALLOPEN or
// INODE_FIREWALLED once a TCP connection to the named door worked or
// failed), accepts nodes that ask it to be their buddy and keeps their TCP
// connections open, and relays call requests over a connected user's TCP
// connection.
//
// Bounds: one entry per node identifier (a repeated request refreshes it),
// at most 64 entries (then INODE_BUDDYREFUSE), an entry whose connection
// has not come within 120000 ms is dropped; one pending check per address
// and TCP port (each check that asked is answered), dropped when the
// connection attempt does not start or no event comes within 30000 ms.
//
// Datagrams (after the opcode byte):
//   INODE_BUDDYREQUEST, received:  0 23  the asking node's record
//   INODE_BUDDYACCEPT, sent:       0  2  the own TCP door port, u16
//   INODE_BUDDYREFUSE, sent:       no payload
//   INODE_CALLREQUEST, received:   0 16  user identifier | 16 2 the asker's TCP door port, u16
//   INODE_CALLRELAYED / INODE_CALLFAILED, sent: 0 16 the user identifier
//   INODE_FIREWALLCHECK, received: 0  2  the tested node's TCP door port, u16
//   INODE_YOURIP, sent:            0  4  the sender's address, u32
//   INODE_FIREWALLOPEN / INODE_FIREWALLED, sent: no payload
//
// Task thread only.
#pragma once

#include <cstdint>
#include <list>

#include "core/net/peer_event_handler.h"
#include "core/net/udp_annex.h"
#include "core/task/time_slice_task.h"
#include "overlay/routing/node.h"

class FlockGateway;
class FlockHost;

constexpr int kBuddyEntriesMax = 64;
constexpr int kBuddyEntryWaitMs = 120000;
constexpr int kCheckWaitMs = 30000;
// Checks of one address and port answered at most (a node's three testers).
constexpr int kCheckAnswersMax = 3;
constexpr int kCallRequestSize = 16 + 2;

class BuddyList : public TimeSliceTask, public UDPMessageHandler, public PeerEventHandler {
public:
    struct Entry {
        TCPConnection* connection = nullptr;  // a use held
        Node node;
        int32_t waitedMs = 0;
    };
    struct Check {
        uint32_t ip = 0;
        int udpPort = 0;
        int tcpPort = 0;
        int answers = 1;
        int32_t waitedMs = 0;
    };

    BuddyList(FlockGateway& gateway, FlockHost& host) : gateway_(gateway), host_(host) {}
    BuddyList(const BuddyList&) = delete;
    BuddyList& operator=(const BuddyList&) = delete;

    // Keeps the buddy connections open; drops entries and checks that
    // waited too long.
    bool tick(int elapsedMs) override;
    // Opcodes 21, 24 and 27.
    bool handle(uint8_t opcode, UDPAnnex* annex, i4_ram_file_class* datagram, const i4_address* sender) override;
    void peerClosed(TCPConnection* connection) override;
    void newPeer(TCPConnection* connection) override;
    void connectFailed(uint32_t ip, uint16_t port) override;

    // Entries, with or without connection.
    int count() const { return static_cast<int>(entries_.size()); }
    int checkCount() const { return static_cast<int>(checks_.size()); }
    // "Buddies:", then "%d) %s" per entry (its connection's name, or
    // "(null)").
    void list();
    const std::list<Entry>& entries() const { return entries_; }

private:
    void buddyRequest(i4_ram_file_class* reader, uint32_t ip, int port);
    void callRequest(i4_ram_file_class* reader, uint32_t ip, int port);
    void firewallCheck(i4_ram_file_class* reader, uint32_t ip, int port);
    void sendEmpty(uint32_t ip, int port, uint8_t opcode, int times = 1);

    FlockGateway& gateway_;
    FlockHost& host_;
    std::list<Entry> entries_;
    std::list<Check> checks_;
};
