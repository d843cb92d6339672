#include "overlay_fixture.h"

#include "core/meta/special_tags.h"
#include "core/net/ip_text.h"
#include "overlay/routing/contact_list.h"
#include "overlay/routing/node_list.h"
#include "support/memory_files.h"
#include "v4ada/file/ram_file.h"

namespace overlaytest {

UniqueID idOf(std::initializer_list<uint8_t> head) {
    UniqueID id;
    int i = 0;
    for (uint8_t b : head) id.bytes()[i++] = b;
    return id;
}

UniqueID randomId(std::mt19937& rng) {
    UniqueID id;
    for (int i = 0; i < kUniqueIdSize; i++) id.bytes()[i] = static_cast<uint8_t>(rng());
    return id;
}

Node makeNode(const UniqueID& id, uint32_t ip, int port, int misses) {
    Node node;
    node.id = id;
    node.ip = ip;
    node.port = port;
    node.misses = misses;
    return node;
}

Node makeNode(const UniqueID& id, const char* dottedIp, int port, int misses) {
    return makeNode(id, ipFromText(dottedIp), port, misses);
}

std::string le16(uint16_t value) {
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

std::string le32(uint32_t value) { return le16(static_cast<uint16_t>(value)) + le16(static_cast<uint16_t>(value >> 16)); }

std::string idBytes(const UniqueID& id) { return std::string(reinterpret_cast<const char*>(id.bytes()), kUniqueIdSize); }

std::string record(const Node& node) {
    return idBytes(node.id) + le32(node.ip) + le16(static_cast<uint16_t>(node.port)) +
           std::string(1, static_cast<char>(node.misses & 0xFF));
}

std::string datagram(uint8_t opcode, const std::string& payload) {
    return std::string{static_cast<char>(0xE3), static_cast<char>(opcode)} + payload;
}

Node recordAt(const std::string& bytes, size_t offset) {
    support::ByteReader reader(support::as_bytes(bytes.substr(offset, kNodeRecordSize)));
    Node node;
    node.read(reader.file());
    return node;
}

uint16_t le16At(const std::string& bytes, size_t offset) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[offset]) | static_cast<uint8_t>(bytes[offset + 1]) << 8);
}

uint32_t le32At(const std::string& bytes, size_t offset) {
    return le16At(bytes, offset) | static_cast<uint32_t>(le16At(bytes, offset + 2)) << 16;
}

void RecordingUI::networkSize(int users, int files) { sizes.emplace_back(users, files); }

void RecordingUI::bootDone(bool booted) { events.push_back(booted ? "bootDone 1" : "bootDone 0"); }

int RecordingUI::count(const std::string& event) const {
    int n = 0;
    for (const std::string& e : events)
        if (e == event) n++;
    return n;
}

GatewayTest::GatewayTest() : ownId_(idOf({0x80, 0x01})) {
    initSpecialTags();
    host_ = &sim_.addHost(ownId_, "10.0.0.1", kOwnPort, dir_.path());
    gateway_ = std::make_unique<FlockGateway>(*host_);
    gateway_->setUI(&ui_);
}

GatewayTest::~GatewayTest() {
    gateway_.reset();
    resetSpecialTags();
}

void GatewayTest::startGateway() {
    gateway_->start();
    sim_.settle();
}

void GatewayTest::writeContacts(const std::vector<Node>& nodes) {
    NodeList list;
    for (const Node& node : nodes) list.addCopy(&node);
    ASSERT_TRUE(list.save(contactPath().c_str(), static_cast<int>(nodes.size())));
}

support::DatagramPeer* GatewayTest::peer(const char* dottedIp, int port) {
    uint32_t ip = ipFromText(dottedIp);
    if (support::DatagramPeer* known = sim_.network.peerAt(ip, port)) return known;
    return sim_.network.addPeer(ip, port);
}

void GatewayTest::sendFrom(support::DatagramPeer* from, const std::string& bytes) {
    from->sendTo(ownIp(), gateway_->self().udpPort(), bytes);
    sim_.settle();
}

int GatewayTest::tableSize() { return gateway_->contacts() != nullptr ? gateway_->contacts()->size() : 0; }

bool GatewayTest::inTable(const UniqueID& id) {
    ContactList* table = gateway_->contacts();
    if (table == nullptr) return false;
    return table->root()->leaf(id)->contacts.findById(id) != nullptr;
}

}  // namespace overlaytest
