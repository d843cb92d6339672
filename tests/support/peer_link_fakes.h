// FakePeerLink: the overlay's peer-pool seam (overlay/gateway/peer_link.h) without
// a pool. Connections are TCPConnection objects the link makes and owns,
// each with the facts the overlay reads of it; the test decides what
// connect answers and sends the connection events itself. Every call is
// logged as one line of text.
//
//   support::FakePeerLink link;                     // a host's peers()
//   link.connectResult = PeerLink::kConnecting;
//   ... the gateway asks for a connection: log "connect 10.0.0.9:4662" ...
//   TCPConnection* c = link.makeConnection({ip("10.0.0.9"), 4662, ip("10.0.0.9"), id}, "buddy");
//   link.open(c);                                   // newPeer to every handler
//   link.close(c);                                  // peerClosed
//   link.fail(ip("10.0.0.9"), 4662);                // connectFailed
//
// onConnect, when set, answers connect instead of connectResult (the
// simulation's world of many links routes connects with it).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "overlay/gateway/peer_link.h"

class TCPConnection;

namespace support {

class FakePeerLink : public PeerLink {
public:
    FakePeerLink();
    ~FakePeerLink();
    FakePeerLink(const FakePeerLink&) = delete;
    FakePeerLink& operator=(const FakePeerLink&) = delete;

    int connect(uint32_t ip, uint16_t port, TCPConnection** out) override;
    TCPConnection* findByUserHash(const UniqueID& hash) override;
    void addHandler(PeerEventHandler* handler) override;
    void removeHandler(PeerEventHandler* handler) override;
    PeerFacts facts(TCPConnection* connection) override;
    void hold(TCPConnection* connection, const char* tag) override;
    void release(TCPConnection* connection, const char* tag) override;
    void keepAlive(TCPConnection* connection) override;
    void sendPing(TCPConnection* connection) override;
    void sendPortReachable(TCPConnection* connection) override;
    void sendCallbackRequest(TCPConnection* connection, uint32_t ip, uint16_t port) override;

    // A connection with those facts and that name (owned by the link).
    TCPConnection* makeConnection(const PeerFacts& facts, const std::string& name);
    // The connection is listed and every handler hears newPeer.
    void open(TCPConnection* connection);
    // Every handler hears peerClosed; the connection is no longer listed.
    void close(TCPConnection* connection);
    // Every handler hears connectFailed.
    void fail(uint32_t ip, uint16_t port);
    // A closed connection is deleted (nothing may name it afterwards).
    void discard(TCPConnection* connection);

    int holdsOf(TCPConnection* connection);
    int keepAlives(TCPConnection* connection);
    bool listed(TCPConnection* connection);
    int handlerCount() const { return static_cast<int>(handlers_.size()); }
    // Log lines that begin with the prefix.
    std::vector<std::string> logged(const std::string& prefix) const;

    int connectResult = kConnecting;
    // Set with connectResult kConnected: the connection connect hands out.
    TCPConnection* connected = nullptr;
    std::function<int(uint32_t ip, uint16_t port, TCPConnection** out)> onConnect;
    // Called for sendPortReachable and sendCallbackRequest, after logging.
    std::function<void(TCPConnection* connection)> onPortReachable;
    std::vector<std::string> log;
    // False: nothing is logged (many links over a long run).
    bool logging = true;

private:
    struct Record;
    Record* recordOf(TCPConnection* connection);
    void note(std::string line);

    std::vector<PeerEventHandler*> handlers_;
    std::map<TCPConnection*, std::unique_ptr<Record>> records_;
};

}  // namespace support
