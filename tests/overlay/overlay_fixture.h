// Helpers of the overlay tests: identifiers, node records and datagrams as
// bytes, a FlockUI that records what it is told, and GatewayTest, one
// gateway on the in-memory network with scripted peers around it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/ui/flock_ui.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/routing/node.h"
#include "support/overlay_sim.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"

namespace overlaytest {

// An identifier whose first bytes are given, the rest 0.
UniqueID idOf(std::initializer_list<uint8_t> head);
UniqueID randomId(std::mt19937& rng);
Node makeNode(const UniqueID& id, const char* dottedIp, int port, int misses = 0);
Node makeNode(const UniqueID& id, uint32_t ip, int port, int misses = 0);

// Little-endian fields and records as bytes.
std::string le16(uint16_t value);
std::string le32(uint32_t value);
std::string idBytes(const UniqueID& id);
std::string record(const Node& node);
// Marker, opcode, payload.
std::string datagram(uint8_t opcode, const std::string& payload = "");

// Reads a node record at an offset of a byte string.
Node recordAt(const std::string& bytes, size_t offset);
uint16_t le16At(const std::string& bytes, size_t offset);
uint32_t le32At(const std::string& bytes, size_t offset);

// Every FlockUI event as a line, and the last network size.
class RecordingUI : public FlockUI {
public:
    void networkSize(int users, int files) override;
    void bootDone(bool booted) override;
    void explorerCreated(Explorer*) override { events.push_back("explorerCreated"); }
    void explorerDeleted(Explorer*) override { events.push_back("explorerDeleted"); }
    void requesterAdded(Explorer*) override { events.push_back("requesterAdded"); }
    void requesterRemoved(Explorer*) override { events.push_back("requesterRemoved"); }
    void nodeTimedOut(Explorer*, NodeWithParents*) override { events.push_back("nodeTimedOut"); }
    void querySent(Explorer* lookup, Node* node) override {
        queries++;
        if (onQuery) onQuery(lookup, node);
    }
    void destinationFound(Explorer*, NodeWithParents*) override { destinations++; }
    void searchResult(Service*) override { events.push_back("searchResult"); }
    void searchEnd(ServiceSearch*, Node*, int, int) override { events.push_back("searchEnd"); }
    void searchClosed(const uint8_t*) override { events.push_back("searchClosed"); }
    void firewalled() override { events.push_back("firewalled"); }
    int count(const std::string& event) const;

    std::vector<std::string> events;
    std::vector<std::pair<int, int>> sizes;
    std::function<void(Explorer*, Node*)> onQuery;
    int queries = 0;
    int destinations = 0;
};

// One gateway (own id ownId_, 10.0.0.1, UDP port 4000) over the in-memory
// network, with its contact.dat in a scratch directory; output captured.
class GatewayTest : public ::testing::Test {
protected:
    static constexpr int kOwnPort = 4000;

    GatewayTest();
    ~GatewayTest() override;

    void startGateway();
    // Writes contact.dat before the start.
    void writeContacts(const std::vector<Node>& nodes);
    std::string contactPath() const { return dir_ / "contact.dat"; }

    // A scripted peer at the address (made on first use).
    support::DatagramPeer* peer(const char* dottedIp, int port = 4672);
    // The peer sends to the gateway; the network settles.
    void sendFrom(support::DatagramPeer* from, const std::string& bytes);
    uint32_t ownIp() const { return host_->ip(); }

    // Contacts in the gateway's routing table.
    int tableSize();
    bool inTable(const UniqueID& id);

    UniqueID ownId_;
    support::TempDir dir_;
    support::CaptureUI output_;
    support::OverlaySim sim_;
    support::SimHost* host_ = nullptr;
    RecordingUI ui_;
    std::unique_ptr<FlockGateway> gateway_;
};

}  // namespace overlaytest
