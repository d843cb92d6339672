// The request handler, opcode by opcode, on the wire of the in-memory
// network: answers byte for byte, nodes offered to the routing table,
// short datagrams dropped whole, and the counting seam.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "core/meta/meta_tag.h"
#include "core/net/check_trailer.h"
#include "core/net/ip_text.h"
#include "core/search/search_node.h"
#include "overlay/routing/contact_list.h"
#include "overlay/opcodes.h"
#include "overlay/requests/request_counter.h"
#include "overlay/index/service.h"
#include "overlay/index/service_directory.h"
#include "overlay/index/service_search.h"
#include "overlay/overlay_fixture.h"
#include "support/memory_files.h"

using namespace overlaytest;

namespace {

std::string searchBytes(ServiceSearch& search) {
    support::ByteWriter writer;
    search.write(writer.file());
    return support::as_text(writer.bytes());
}

std::string serviceBytes(Service& service) {
    support::ByteWriter writer;
    service.toNetwork(writer.file());
    return support::as_text(writer.bytes());
}

class Counter : public RequestCounter {
public:
    void countHello() override { hellos++; }
    void countRoute() override { routes++; }
    void countSearch() override { searches++; }
    void countPublish() override { publishes++; }
    int hellos = 0, routes = 0, searches = 0, publishes = 0;
};

class FlockServerTest : public GatewayTest {
protected:
    void SetUp() override {
        startGateway();
        asker_ = peer("10.0.0.5", 4672);
    }
    // Contacts 10.0.1.i:4672 with ids {0x10 + i}.
    void addContacts(int n) {
        for (int i = 0; i < n; i++) {
            Node contact = makeNode(idOf({static_cast<uint8_t>(0x10 + i), 1}), (std::string("10.0.1.") + std::to_string(i + 1)).c_str(), 4672);
            gateway_->contacts()->add(&contact);
        }
    }
    std::vector<support::Datagram> sent(uint8_t opcode) { return asker_->receivedWith(opcode); }
    Service* storedService(const UniqueID& key, const UniqueID& desc) {
        ServiceSearch search(key);
        LL found;
        int next = 0;
        gateway_->directory().lookup(&search, &next, &found);
        for (int i = 0; i < found.count(); i++) {
            auto service = static_cast<Service*>(found.at(i));
            if (service->descId.equals(desc)) return service;
        }
        return nullptr;
    }

    support::DatagramPeer* asker_ = nullptr;
};

TEST_F(FlockServerTest, ConnectWithEmptyTableAnswersOwnRecordAndTakesTheAsker) {
    Node booting = makeNode(idOf({0x33}), 0u, 4000);
    sendFrom(asker_, datagram(INODE_CONNECT, record(booting)));
    auto replies = sent(INODE_CONNECTREPLY);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, datagram(INODE_CONNECTREPLY, le16(1) + record(gateway_->ownNode())));
    EXPECT_EQ(record(gateway_->ownNode()), record(makeNode(ownId_, 0u, kOwnPort)));
    Node* taken = gateway_->contacts()->root()->leaf(booting.id)->contacts.findById(booting.id);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->ip, ipFromText("10.0.0.5"));
    EXPECT_EQ(taken->port, 4000);
}

TEST_F(FlockServerTest, ConnectDrawsDistinctContactsNeverTheAskerOwnRecordLast) {
    addContacts(3);
    Node booting = makeNode(idOf({0x10, 1}), 0u, 4000);  // already known
    for (int round = 0; round < 20; round++) {
        sendFrom(asker_, datagram(INODE_CONNECT, record(booting)));
        std::string reply = sent(INODE_CONNECTREPLY).back().bytes;
        int count = le16At(reply, 2);
        EXPECT_GE(count, 1);
        EXPECT_LE(count, 3);
        ASSERT_EQ(reply.size(), 4u + 23u * static_cast<size_t>(count));
        std::set<std::string> ids;
        for (int i = 0; i < count; i++) {
            Node n = recordAt(reply, 4 + 23 * static_cast<size_t>(i));
            EXPECT_TRUE(ids.insert(idBytes(n.id)).second);
            EXPECT_FALSE(n.sameId(&booting));
        }
        EXPECT_TRUE(recordAt(reply, 4 + 23 * static_cast<size_t>(count - 1)).id.equals(ownId_));
    }
}

TEST_F(FlockServerTest, HelloIsAnsweredAndItsNodeOffered) {
    Counter counter;
    gateway_->setRequestCounter(&counter);
    Node lowId = makeNode(idOf({0x34}), 0u, 4000);
    sendFrom(asker_, datagram(INODE_HELLO, record(lowId)));
    ASSERT_EQ(sent(INODE_HELLOREPLY).size(), 1u);
    EXPECT_EQ(sent(INODE_HELLOREPLY)[0].bytes, datagram(INODE_HELLOREPLY));
    EXPECT_FALSE(inTable(lowId.id)) << "address as sent: a low id";
    Node reachable = makeNode(idOf({0x35}), "10.0.0.77", 4001);
    sendFrom(asker_, datagram(INODE_HELLO, record(reachable)));
    EXPECT_TRUE(inTable(reachable.id));
    EXPECT_EQ(counter.hellos, 2);
    gateway_->setRequestCounter(nullptr);
}

TEST_F(FlockServerTest, RouteAnswersTheNearestInTableOrder) {
    addContacts(10);
    UniqueID target = idOf({0x13, 1});
    struct Case {
        int wanted;
        int count;
    } cases[] = {{0, 0}, {1, 1}, {4, 4}, {255, 10}};
    for (const Case& c : cases) {
        sendFrom(asker_, datagram(INODE_ROUTE, std::string(1, static_cast<char>(c.wanted)) + idBytes(target)));
        std::string reply = sent(INODE_ROUTEREPLY).back().bytes;
        ASSERT_EQ(reply.size(), 2u + 17u + 23u * static_cast<size_t>(c.count)) << c.wanted;
        EXPECT_EQ(reply.substr(2, 16), idBytes(target));
        EXPECT_EQ(static_cast<uint8_t>(reply[18]), c.count);
        LL nearest;
        gateway_->contacts()->nearest(target, c.wanted, &nearest);
        for (int i = 0; i < c.count; i++)
            EXPECT_EQ(reply.substr(19 + 23 * static_cast<size_t>(i), 23), record(*static_cast<Node*>(nearest.at(i))));
    }
    EXPECT_TRUE(recordAt(sent(INODE_ROUTEREPLY)[1].bytes, 19).id.equals(target));
}

TEST_F(FlockServerTest, RouteAnswerHoldsAt132Records) {
    // 20 contacts in the far bucket of each of the first 10 depths.
    std::mt19937 rng(3);
    for (int i = 0; i < 200; i++) {
        UniqueID id = randomId(rng);
        unsigned depth = static_cast<unsigned>(i / 20);
        for (unsigned bit = 0; bit < depth; bit++) id.setBit(bit, ownId_.bit(bit));
        id.setBit(depth, !ownId_.bit(depth));
        Node contact = makeNode(id, "10.0.2.1", 5000 + i);
        gateway_->contacts()->add(&contact);
    }
    ASSERT_GT(tableSize(), 140);
    sendFrom(asker_, datagram(INODE_ROUTE, std::string(1, static_cast<char>(200)) + idBytes(ownId_)));
    std::string reply = sent(INODE_ROUTEREPLY).back().bytes;
    EXPECT_EQ(static_cast<uint8_t>(reply[18]), 132);
    EXPECT_EQ(reply.size(), 3055u);
}

TEST_F(FlockServerTest, SearchAnswersResultsThenEnd) {
    UniqueID key = idOf({0x77});
    ServiceSearch empty(key);
    sendFrom(asker_, datagram(INODE_SEARCH, searchBytes(empty)));
    EXPECT_TRUE(sent(INODE_SEARCHRESULT).empty());
    ASSERT_EQ(sent(INODE_SEARCHEND).size(), 1u);
    EXPECT_EQ(sent(INODE_SEARCHEND)[0].bytes, datagram(INODE_SEARCHEND, idBytes(key) + le16(0) + le16(0)));

    for (int i = 0; i < 3; i++) {
        auto service = new TimedService();
        service->serviceId = key;
        service->descId = idOf({static_cast<uint8_t>(i + 1)});
        service->set("n", i == 1 ? "blue moon" : "red sun", kTagString);
        gateway_->directory().add(service);
    }
    ServiceSearch blue(key);
    blue.add(new SN_FindStr("moon"), kSearchAnd);
    sendFrom(asker_, datagram(INODE_SEARCH, searchBytes(blue)));
    ASSERT_EQ(sent(INODE_SEARCHRESULT).size(), 1u);
    Service* stored = storedService(key, idOf({2}));
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(sent(INODE_SEARCHRESULT)[0].bytes, datagram(INODE_SEARCHRESULT, serviceBytes(*stored)));
    EXPECT_EQ(sent(INODE_SEARCHEND)[1].bytes, datagram(INODE_SEARCHEND, idBytes(key) + le16(3) + le16(3)));
}

TEST_F(FlockServerTest, SearchWhoseTreeDoesNotReadIsNotAnswered) {
    UniqueID key = idOf({0x77});
    // Flag 1, then a kind byte 9: no tree can be read.
    sendFrom(asker_, datagram(INODE_SEARCH, idBytes(key) + "\x01\x09" + le16(0) + le16(100)));
    // Flag 1 and a text node cut short.
    sendFrom(asker_, datagram(INODE_SEARCH, idBytes(key) + "\x01\x01" + le16(30) + "abc"));
    EXPECT_TRUE(sent(INODE_SEARCHEND).empty());
    EXPECT_TRUE(sent(INODE_SEARCHRESULT).empty());
}

TEST_F(FlockServerTest, PublishStoresAndAcknowledges) {
    Counter counter;
    gateway_->setRequestCounter(&counter);
    Service service;
    service.serviceId = idOf({0x51});
    service.descId = idOf({0x52});
    service.set("loc", "bcp://10.0.0.5:4662", kTagString);
    sendFrom(asker_, datagram(INODE_PUBLISH, serviceBytes(service)));
    ASSERT_EQ(sent(INODE_PUBLISHACK).size(), 1u);
    EXPECT_EQ(sent(INODE_PUBLISHACK)[0].bytes, datagram(INODE_PUBLISHACK, idBytes(service.serviceId)));
    EXPECT_EQ(gateway_->directory().count(), 1);
    Service* stored = storedService(service.serviceId, service.descId);
    ASSERT_NE(stored, nullptr);
    EXPECT_STREQ(stored->textOf("loc"), "bcp://10.0.0.5:4662");
    EXPECT_EQ(stored->stamp, static_cast<TimedService*>(stored)->firstSeen);

    std::string bad = serviceBytes(service);
    sendFrom(asker_, datagram(INODE_PUBLISH, bad.substr(0, bad.size() - 3)));
    EXPECT_EQ(sent(INODE_PUBLISHACK).size(), 1u);
    EXPECT_EQ(gateway_->directory().count(), 1);
    EXPECT_NE(output_.text().find("Bad Service from: 10.0.0.5 4672\n"), std::string::npos);
    EXPECT_EQ(counter.publishes, 2);
    gateway_->setRequestCounter(nullptr);
}

TEST_F(FlockServerTest, CheckWithGoodTrailerIsAnsweredAndBadIsNot) {
    Node checker = makeNode(idOf({0x61}), "10.0.0.5", 4672);
    std::string body = datagram(INODE_CHECK, le32(2) + record(checker) + le32(1) + le32(2) + le32(3) + le32(4) + le32(0));
    std::string good = body;
    messageCheckTrailer(reinterpret_cast<uint8_t*>(good.data()), good.size(), 15);
    std::string bad = good;
    bad[48] ^= 1;
    sendFrom(asker_, bad);
    EXPECT_TRUE(sent(INODE_CHECKREPLY).empty());
    EXPECT_FALSE(inTable(checker.id));

    sendFrom(asker_, good);
    ASSERT_EQ(sent(INODE_CHECKREPLY).size(), 1u);
    std::string reply = sent(INODE_CHECKREPLY)[0].bytes;
    ASSERT_EQ(reply.size(), 49u);
    EXPECT_EQ(reply.substr(0, 2), "\xE3\x20");
    EXPECT_EQ(le32At(reply, 2), 2u);
    EXPECT_EQ(reply.substr(6, 23), record(gateway_->ownNode()));
    EXPECT_TRUE(messageCheckTrailer(reinterpret_cast<uint8_t*>(reply.data()), reply.size(), 15));
    EXPECT_TRUE(inTable(checker.id));

    // A check answer is verified and nothing follows from it.
    std::string answer = datagram(INODE_CHECKREPLY, body.substr(2));
    messageCheckTrailer(reinterpret_cast<uint8_t*>(answer.data()), answer.size(), 15);
    sendFrom(asker_, answer);
    EXPECT_EQ(sent(INODE_CHECKREPLY).size(), 1u);
    EXPECT_EQ(sent(INODE_CHECK).size(), 0u);
}

TEST_F(FlockServerTest, NodesLearntFromDatagramsStartWithoutMisses) {
    // Each record carries a misses byte of 200; the table counts only the
    // misses it saw itself.
    auto check = [](const Node& node) {
        std::string d = datagram(INODE_CHECK, le32(2) + record(node) + le32(1) + le32(2) + le32(3) + le32(4) + le32(0));
        messageCheckTrailer(reinterpret_cast<uint8_t*>(d.data()), d.size(), 15);
        return d;
    };
    struct Case {
        const char* what;
        std::function<std::string(const Node&)> datagramOf;
    } cases[] = {
        {"connect", [](const Node& node) { return datagram(INODE_CONNECT, record(node)); }},
        {"hello", [](const Node& node) { return datagram(INODE_HELLO, record(node)); }},
        {"check", check},
    };
    uint8_t next = 0x71;
    for (const Case& c : cases) {
        Node claimed = makeNode(idOf({next++}), "10.0.0.5", 4672, 200);
        sendFrom(asker_, c.datagramOf(claimed));
        Node* taken = gateway_->contacts()->root()->leaf(claimed.id)->contacts.findById(claimed.id);
        ASSERT_NE(taken, nullptr) << c.what;
        EXPECT_EQ(taken->misses, 0) << c.what;
    }
}

TEST_F(FlockServerTest, DeadNodeCountsAMiss) {
    addContacts(1);
    Node dead = makeNode(idOf({0x10, 1}), "10.0.1.1", 4672);
    sendFrom(asker_, datagram(INODE_DEADNODE, record(dead)));
    EXPECT_EQ(gateway_->contacts()->root()->leaf(dead.id)->contacts.findById(dead.id)->misses, 1);
    EXPECT_TRUE(asker_->received.empty());
}

TEST_F(FlockServerTest, NumBuddiesIsPrintedAndAnswered) {
    output_.clear();
    sendFrom(asker_, datagram(INODE_GETNUMBUDDIES));
    EXPECT_EQ(output_.text(), "INODE_GETNUMBUDDIES: 10.0.0.5 : 4672\n");
    ASSERT_EQ(sent(INODE_NUMBUDDIES).size(), 1u);
    EXPECT_EQ(sent(INODE_NUMBUDDIES)[0].bytes, datagram(INODE_NUMBUDDIES, le32(0)));
}

TEST_F(FlockServerTest, ShortDatagramsAreDroppedWhole) {
    addContacts(2);
    Node node = makeNode(idOf({0x10, 1}), "10.0.1.1", 4672);
    std::string full = record(node);
    Service service;
    service.serviceId = idOf({0x51});
    std::string published = serviceBytes(service);
    const std::string cases[] = {
        datagram(INODE_CONNECT, full.substr(0, 22)),
        datagram(INODE_HELLO, full.substr(0, 22)),
        datagram(INODE_ROUTE, std::string(1, 5) + idBytes(node.id).substr(0, 15)),
        datagram(INODE_SEARCH, idBytes(node.id) + std::string(1, 0) + le16(0)),
        datagram(INODE_CHECK, std::string(46, 'x')),
        datagram(INODE_DEADNODE, full.substr(0, 22)),
        datagram(INODE_PUBLISH, published.substr(0, 35)),
        datagram(INODE_CONNECTREPLY, le16(3) + full + full),
        datagram(INODE_NUMBUDDIES, le32(9)),
        datagram(INODE_BUDDYREFUSE),
        datagram(200, "x"),
        std::string("\xE4\x0C") + full,
    };
    output_.clear();
    int before = tableSize();
    for (const std::string& d : cases) sendFrom(asker_, d);
    EXPECT_TRUE(asker_->received.empty());
    EXPECT_EQ(tableSize(), before);
    EXPECT_EQ(gateway_->contacts()->root()->leaf(node.id)->contacts.findById(node.id)->misses, 0);
    EXPECT_EQ(gateway_->directory().count(), 0);
    EXPECT_EQ(output_.text(), "Bad Service from: 10.0.0.5 4672\n");
}

TEST_F(FlockServerTest, BlacklistedSenderIsIgnored) {
    Node bad = makeNode(idOf({0x99}), "10.0.0.5", 4672);
    gateway_->blacklistNode(&bad);
    Node hello = makeNode(idOf({0x98}), "10.0.0.66", 4672);
    for (uint8_t opcode : {INODE_HELLO, INODE_CONNECT, INODE_GETNUMBUDDIES, INODE_HELLOREPLY})
        sendFrom(asker_, datagram(opcode, record(hello)));
    EXPECT_TRUE(asker_->received.empty());
    EXPECT_FALSE(inTable(hello.id));
    sendFrom(peer("10.0.0.5", 4673), datagram(INODE_HELLO, record(hello)));
    EXPECT_TRUE(inTable(hello.id)) << "another port of that address is not blacklisted";
}

}  // namespace
