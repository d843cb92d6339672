#include "support/peer_link_fakes.h"

#include <algorithm>

#include "core/net/ip_text.h"
#include "core/net/peer_event_handler.h"
#include "core/net/tcp_connection.h"

namespace support {

namespace {

// A connection that is only a name: never attached to a pool.
class NamedConnection : public TCPConnection {
public:
    NamedConnection(uint32_t ip, int port, std::string name) : TCPConnection(ip, port, 0xE3), name_(std::move(name)) {}
    const char* name() override { return name_.c_str(); }

private:
    std::string name_;
};

std::string address(uint32_t ip, int port) {
    OwnedString text;
    return std::string(ipToText(ip, text)) + ":" + std::to_string(port);
}

}  // namespace

struct FakePeerLink::Record {
    std::unique_ptr<TCPConnection> connection;
    PeerFacts facts;
    int holds = 0;
    int keepAlives = 0;
    bool listed = false;
};

FakePeerLink::FakePeerLink() = default;

void FakePeerLink::note(std::string line) {
    if (logging) log.push_back(std::move(line));
}

FakePeerLink::~FakePeerLink() = default;

FakePeerLink::Record* FakePeerLink::recordOf(TCPConnection* connection) {
    auto found = records_.find(connection);
    return found != records_.end() ? found->second.get() : nullptr;
}

int FakePeerLink::connect(uint32_t ip, uint16_t port, TCPConnection** out) {
    note("connect " + address(ip, port));
    if (onConnect) return onConnect(ip, port, out);
    if (connectResult == kConnected && out != nullptr) *out = connected;
    return connectResult;
}

TCPConnection* FakePeerLink::findByUserHash(const UniqueID& hash) {
    for (auto& [connection, record] : records_)
        if (record->listed && record->facts.userHash.equals(hash)) return connection;
    return nullptr;
}

void FakePeerLink::addHandler(PeerEventHandler* handler) { handlers_.push_back(handler); }

void FakePeerLink::removeHandler(PeerEventHandler* handler) {
    handlers_.erase(std::remove(handlers_.begin(), handlers_.end(), handler), handlers_.end());
}

PeerFacts FakePeerLink::facts(TCPConnection* connection) {
    Record* record = recordOf(connection);
    return record != nullptr ? record->facts : PeerFacts();
}

void FakePeerLink::hold(TCPConnection* connection, const char* tag) {
    if (Record* record = recordOf(connection)) record->holds++;
    note(std::string("hold ") + connection->name() + " " + tag);
}

void FakePeerLink::release(TCPConnection* connection, const char* tag) {
    if (Record* record = recordOf(connection)) record->holds--;
    note(std::string("release ") + connection->name() + " " + tag);
}

void FakePeerLink::keepAlive(TCPConnection* connection) {
    if (Record* record = recordOf(connection)) record->keepAlives++;
}

void FakePeerLink::sendPing(TCPConnection* connection) { note(std::string("ping ") + connection->name()); }

void FakePeerLink::sendPortReachable(TCPConnection* connection) {
    note(std::string("reachable ") + connection->name());
    if (onPortReachable) onPortReachable(connection);
}

void FakePeerLink::sendCallbackRequest(TCPConnection* connection, uint32_t ip, uint16_t port) {
    note(std::string("callback ") + connection->name() + " " + address(ip, port));
}

TCPConnection* FakePeerLink::makeConnection(const PeerFacts& facts, const std::string& name) {
    auto record = std::make_unique<Record>();
    record->connection = std::make_unique<NamedConnection>(facts.socketIp, facts.port, name);
    record->facts = facts;
    TCPConnection* connection = record->connection.get();
    records_[connection] = std::move(record);
    return connection;
}

void FakePeerLink::open(TCPConnection* connection) {
    if (Record* record = recordOf(connection)) record->listed = true;
    std::vector<PeerEventHandler*> handlers = handlers_;
    for (PeerEventHandler* handler : handlers) handler->newPeer(connection);
}

void FakePeerLink::close(TCPConnection* connection) {
    Record* record = recordOf(connection);
    if (record == nullptr || !record->listed) return;
    record->listed = false;
    std::vector<PeerEventHandler*> handlers = handlers_;
    for (PeerEventHandler* handler : handlers) handler->peerClosed(connection);
}

void FakePeerLink::fail(uint32_t ip, uint16_t port) {
    std::vector<PeerEventHandler*> handlers = handlers_;
    for (PeerEventHandler* handler : handlers) handler->connectFailed(ip, port);
}

void FakePeerLink::discard(TCPConnection* connection) {
    auto found = records_.find(connection);
    if (found != records_.end() && !found->second->listed) records_.erase(found);
}

int FakePeerLink::holdsOf(TCPConnection* connection) {
    Record* record = recordOf(connection);
    return record != nullptr ? record->holds : 0;
}

int FakePeerLink::keepAlives(TCPConnection* connection) {
    Record* record = recordOf(connection);
    return record != nullptr ? record->keepAlives : 0;
}

bool FakePeerLink::listed(TCPConnection* connection) {
    Record* record = recordOf(connection);
    return record != nullptr && record->listed;
}

std::vector<std::string> FakePeerLink::logged(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const std::string& line : log)
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    return lines;
}

}  // namespace support
