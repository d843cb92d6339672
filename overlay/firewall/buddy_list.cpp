#include "overlay/firewall/buddy_list.h"

#include "core/net/ip_text.h"
#include "core/net/tcp_connection.h"
#include "core/net/udp_packet.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/gateway/flock_host.h"
#include "overlay/gateway/flock_output.h"
#include "overlay/gateway/peer_link.h"
#include "overlay/opcodes.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/net/address.h"

bool BuddyList::tick(int elapsedMs) {
    PeerLink* link = host_.peers();
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->connection != nullptr) {
            if (link != nullptr) link->keepAlive(it->connection);
            ++it;
            continue;
        }
        it->waitedMs += elapsedMs;
        if (it->waitedMs > kBuddyEntryWaitMs)
            it = entries_.erase(it);
        else
            ++it;
    }
    for (auto it = checks_.begin(); it != checks_.end();) {
        it->waitedMs += elapsedMs;
        if (it->waitedMs > kCheckWaitMs)
            it = checks_.erase(it);
        else
            ++it;
    }
    return false;
}

bool BuddyList::handle(uint8_t opcode, UDPAnnex*, i4_ram_file_class* reader, const i4_address* sender) {
    if (sender == nullptr) return false;
    uint32_t ip = addressToIp(sender);
    int port = sender->port();
    switch (opcode) {
        case INODE_BUDDYREQUEST:
            buddyRequest(reader, ip, port);
            return true;
        case INODE_CALLREQUEST:
            callRequest(reader, ip, port);
            return true;
        case INODE_FIREWALLCHECK:
            firewallCheck(reader, ip, port);
            return true;
        default:
            return false;
    }
}

void BuddyList::sendEmpty(uint32_t ip, int port, uint8_t opcode, int times) {
    for (int i = 0; i < times; i++) gateway_.send(gateway_.newPacket(ip, port, opcode, 0));
}

void BuddyList::buddyRequest(i4_ram_file_class* reader, uint32_t ip, int port) {
    if (reader->remaining() < kNodeRecordSize) return;
    Node asker;
    asker.read(reader);
    if (host_.peers() == nullptr) return;
    Entry* entry = nullptr;
    for (Entry& e : entries_)
        if (e.node.sameId(&asker)) entry = &e;
    if (entry == nullptr) {
        if (count() >= kBuddyEntriesMax) {
            sendEmpty(ip, port, INODE_BUDDYREFUSE);
            return;
        }
        entries_.emplace_back();
        entry = &entries_.back();
    }
    entry->node = asker;
    entry->waitedMs = 0;
    UDPPacket* packet = gateway_.newPacket(ip, port, INODE_BUDDYACCEPT, 2);
    packet->buffer()->write_16(static_cast<uint16_t>(host_.doorPort()));
    gateway_.send(packet);
}

void BuddyList::callRequest(i4_ram_file_class* reader, uint32_t ip, int port) {
    if (reader->remaining() < kCallRequestSize) return;
    UniqueID user;
    user.read(reader);
    uint16_t askerPort = reader->read_16();
    PeerLink* link = host_.peers();
    TCPConnection* connection = link != nullptr ? link->findByUserHash(user) : nullptr;
    if (connection != nullptr) link->sendCallbackRequest(connection, ip, askerPort);
    UDPPacket* packet = gateway_.newPacket(ip, port, connection != nullptr ? INODE_CALLRELAYED : INODE_CALLFAILED, 16);
    user.write(packet->buffer());
    gateway_.send(packet);
}

void BuddyList::firewallCheck(i4_ram_file_class* reader, uint32_t ip, int port) {
    if (reader->remaining() < 2) return;
    int tcpPort = reader->read_16();
    UDPPacket* seen = gateway_.newPacket(ip, port, INODE_YOURIP, 4);
    seen->buffer()->write_32(ip);
    gateway_.send(seen);
    PeerLink* link = host_.peers();
    if (link == nullptr) return;
    for (Check& check : checks_) {
        if (check.ip == ip && check.tcpPort == tcpPort) {
            // The connection is under way: this check is answered with it.
            check.udpPort = port;
            if (check.answers < kCheckAnswersMax) check.answers++;
            return;
        }
    }
    TCPConnection* connection = nullptr;
    int result = link->connect(ip, static_cast<uint16_t>(tcpPort), &connection);
    if (result == PeerLink::kConnecting) {
        Check check;
        check.ip = ip;
        check.udpPort = port;
        check.tcpPort = tcpPort;
        checks_.push_back(check);
        return;
    }
    // Already connected or no room: nothing to learn from this attempt.
    if (result == PeerLink::kConnected || result == PeerLink::kNoRoom) return;
    // The tested node is this client, or both have low IDs.
    sendEmpty(ip, port, INODE_FIREWALLED);
}

void BuddyList::newPeer(TCPConnection* connection) {
    PeerLink* link = host_.peers();
    if (link == nullptr || connection == nullptr || !gateway_.running()) return;
    PeerFacts facts = link->facts(connection);
    for (auto it = checks_.begin(); it != checks_.end(); ++it) {
        if (it->ip == facts.socketIp && it->tcpPort == facts.port) {
            Check check = *it;
            checks_.erase(it);
            link->sendPortReachable(connection);
            sendEmpty(check.ip, check.udpPort, INODE_FIREWALLOPEN, check.answers);
            return;
        }
    }
    for (Entry& entry : entries_) {
        if (entry.connection == nullptr && entry.node.id.equals(facts.userHash)) {
            link->hold(connection, "BuddyList::newPeer");
            entry.connection = connection;
            return;
        }
    }
}

void BuddyList::connectFailed(uint32_t ip, uint16_t port) {
    for (auto it = checks_.begin(); it != checks_.end(); ++it) {
        if (it->ip == ip && it->tcpPort == port) {
            Check check = *it;
            checks_.erase(it);
            sendEmpty(check.ip, check.udpPort, INODE_FIREWALLED, check.answers);
            return;
        }
    }
}

void BuddyList::peerClosed(TCPConnection* connection) {
    if (connection == nullptr) return;
    // The connection is going: the uses held go with it.
    entries_.remove_if([connection](const Entry& entry) { return entry.connection == connection; });
}

void BuddyList::list() {
    flock_print("Buddies:");
    int number = 0;
    for (const Entry& entry : entries_) {
        if (entry.connection != nullptr)
            flock_print("%d) %s", number, entry.connection->name());
        else
            flock_print("%d) (null)", number);
        number++;
    }
}
