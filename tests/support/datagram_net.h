// MemoryNetwork: an in-memory datagram network for overlay tests. Sockets
// bound to (IPv4, port) stand in for UDP sockets: what one sends lands in
// the inbox of the socket bound to the destination (or is dropped), in
// order and without loss unless a loss fraction and a delay are set. The
// endpoints that gateways make over these sockets are served by one
// socket pool of the network, and only those with something to do are
// served, so that thousands of them cost little; DatagramPeer is a
// scripted node that answers from a callback instead.
//
//   MemoryNetwork net;
//   DatagramPeer* peer = net.addPeer(ip("10.0.0.9"), 4000);
//   peer->onDatagram = [](DatagramPeer& p, const Datagram& d) { ... p.sendTo(d.fromIp, d.fromPort, bytes); };
//   ... a gateway over a SimHost (overlay_sim.h) sends to 10.0.0.9:4000 ...
//   net.settle();   // serves the endpoints until nothing is in flight
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "v4ada/net/socket.h"

class Connection;
class STSocketPool;
class UDPAnnex;

namespace support {

struct FakeBandwidth;

// The IPv4 value of dotted text (the bytes in dotted order).
uint32_t ip(const char* dotted);

struct Datagram {
    uint32_t fromIp = 0;
    int fromPort = 0;
    uint32_t toIp = 0;
    int toPort = 0;
    std::string bytes;  // marker, opcode, payload
    uint8_t opcode() const { return bytes.size() > 1 ? static_cast<uint8_t>(bytes[1]) : 0; }
};

class MemoryNetwork;

// A datagram socket of the network. Receiving takes from the inbox;
// sending hands the bytes to the network.
class MemorySocket : public i4_socket {
public:
    MemorySocket(MemoryNetwork& network, uint32_t ip, int port) : network_(network), ip_(ip), port_(port) {}
    ~MemorySocket() override;

    int read(void*, int) override { return -1; }
    int write(const void*, int) override { return -1; }
    bool accept(i4_socket** out) override;
    int receiveFrom(void* buffer, int n, i4_address** from) override;
    int sendTo(const void* buffer, int n, const i4_address* to) override;
    int waitUntil(int flags, int timeoutMs, i4_progress* progress) override;
    void addToSet(i4_socket_set*, int) override {}
    void removeFromSet(i4_socket_set*) override {}
    // Readable while the inbox holds a datagram; always writable.
    int checkInSet(i4_socket_set*, int flags) override;
    bool close() override { return true; }
    void setBlocking(bool) override {}
    i4_tcpip_address* localAddress() override;
    i4_tcpip_address* peerAddress() override { return nullptr; }

    uint32_t ip() const { return ip_; }
    int port() const { return port_; }
    std::deque<Datagram> inbox;

private:
    MemoryNetwork& network_;
    uint32_t ip_;
    int port_;
};

// A scripted node: every datagram sent to it is kept in `received` and
// handed to onDatagram (if set) at once.
class DatagramPeer {
public:
    DatagramPeer(MemoryNetwork& network, uint32_t ip, int port) : network_(network), ip_(ip), port_(port) {}

    void sendTo(uint32_t ip, int port, const std::string& bytes);
    // Datagrams received with that opcode.
    std::vector<Datagram> receivedWith(uint8_t opcode) const;

    uint32_t ip() const { return ip_; }
    int port() const { return port_; }
    std::vector<Datagram> received;
    std::function<void(DatagramPeer& peer, const Datagram& datagram)> onDatagram;
    // False: the peer takes nothing (as if it were gone); datagrams to it
    // are dropped.
    bool listening = true;

private:
    MemoryNetwork& network_;
    uint32_t ip_;
    int port_;
};

class MemoryNetwork {
public:
    MemoryNetwork();
    ~MemoryNetwork();
    MemoryNetwork(const MemoryNetwork&) = delete;
    MemoryNetwork& operator=(const MemoryNetwork&) = delete;

    // A socket bound to ip:port (port 0: the next free one from 20000 up);
    // null when the address is taken.
    MemorySocket* bind(uint32_t ip, int port);
    // A scripted node at ip:port (owned by the network).
    DatagramPeer* addPeer(uint32_t ip, int port);
    DatagramPeer* peerAt(uint32_t ip, int port);

    // The endpoint is served by the network's pool from now on (owned by
    // the pool); leave lets it go (deleted by the pool at its next step).
    void serve(UDPAnnex* endpoint);
    void leave(UDPAnnex* endpoint);
    // One service of every endpoint: each takes what waits for it and sends
    // at most one queued datagram.
    void serveOnce(int elapsedMs = 0);
    // Serves the endpoints with a datagram waiting or queued until none
    // has; false when it did not settle within maxRounds.
    bool settle(int maxRounds = 100000);

    // Each datagram handed over is lost with this probability (drawn from
    // a generator seeded with seed).
    void setLoss(double fraction, unsigned seed);
    // Each datagram arrives this many milliseconds of network time later.
    void setDelay(int ms) { delayMs_ = ms; }
    // Moves the network's time: delayed datagrams that are due arrive.
    void advanceTime(int ms);

    // Called by sockets and peers.
    void deliver(Datagram datagram);
    void unbind(MemorySocket* socket);
    // Every datagram handed to the network, before loss and delay.
    std::function<void(const Datagram&)> onDeliver;

    uint64_t delivered() const { return delivered_; }
    uint64_t dropped() const { return dropped_; }
    // Every datagram handed to the network, when recording is on.
    bool recording = false;
    std::vector<Datagram> log;

private:
    static uint64_t key(uint32_t ip, int port) { return (static_cast<uint64_t>(ip) << 16) | (port & 0xFFFF); }
    bool busy();
    bool busy(UDPAnnex* endpoint);
    void arrive(Datagram datagram);
    void markBusy(UDPAnnex* endpoint);

    std::unique_ptr<FakeBandwidth> bandwidth_;
    std::unique_ptr<STSocketPool> pool_;
    std::map<uint64_t, MemorySocket*> sockets_;
    std::map<uint64_t, std::unique_ptr<DatagramPeer>> peers_;
    std::vector<UDPAnnex*> endpoints_;
    std::unordered_set<UDPAnnex*> served_;
    std::unordered_map<MemorySocket*, UDPAnnex*> endpointOf_;
    // Endpoints with a datagram waiting since the last service.
    std::vector<UDPAnnex*> busy_;
    std::unordered_set<UDPAnnex*> busySet_;
    double loss_ = 0.0;
    std::mt19937 lossRandom_;
    int delayMs_ = 0;
    int64_t now_ = 0;
    std::deque<std::pair<int64_t, Datagram>> delayed_;
    int nextPort_ = 20000;
    uint64_t delivered_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace support
