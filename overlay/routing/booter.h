// Booter: joins the overlay at start. It loads contact.dat into the boot
// list, sends INODE_CONNECT to three saved contacts at a time (fewest boot
// attempts first), one round every 6000 ms, until a boot answer leaves the
// size estimate above 4 (success) or the list runs out (failure); from
// then on it writes the contacts back to contact.dat every hour. The
// misses field of a boot-list node counts its boot attempts.
//
// INODE_CONNECT, sent:  0  23  the own node record
// INODE_CONNECTREPLY, received:  see opcodes.h
#pragma once

#include <cstdint>

#include "core/net/udp_annex.h"
#include "core/task/time_slice_task.h"
#include "overlay/routing/node_list.h"

class ContactList;
class FlockGateway;
class FlockHost;
class FlockSelf;

constexpr int kBootStepMs = 6000;
constexpr int kBootBatch = 3;
constexpr int kContactSaveEveryMs = 3600000;
constexpr int kContactFileKeep = 500;
// A boot succeeds once the size estimate is above this.
constexpr int kBootedEstimate = 4;

class Booter : public UDPMessageHandler, public TimeSliceTask {
public:
    Booter(FlockGateway& gateway, FlockHost& host, FlockSelf& self) : gateway_(gateway), host_(host), self_(self) {}

    // Loads contact.dat and starts booting; the booter joins the task list.
    void loadContacts();
    // Boots again from the boot list with that address added.
    void bootFrom(uint32_t ip, int port);
    // INODE_CONNECTREPLY from a node of the boot list.
    bool handle(uint8_t opcode, UDPAnnex* annex, i4_ram_file_class* datagram, const i4_address* sender) override;
    bool tick(int elapsedMs) override;
    // Merges the routing table into the boot list and writes contact.dat
    // (at most 500 nodes, fewest attempts first).
    void saveContacts(ContactList* table);
    void sendConnect(uint32_t ip, int port);
    void finish(bool success);

    NodeList& bootList() { return bootList_; }
    bool booting() const { return booting_; }
    bool booted() const { return booted_; }

private:
    void startBooting();
    void bootStep();

    FlockGateway& gateway_;
    FlockHost& host_;
    FlockSelf& self_;
    NodeList bootList_;
    int nextIndex_ = 0;
    int32_t elapsed_ = 0;
    bool booting_ = false;
    bool booted_ = false;
};
