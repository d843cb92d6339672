// Searches over scripted nodes: results and ends, blacklisting, silence
// after results, given nodes; the download-source search with its timer
// and the dispatcher of found location links; the location link itself,
// the own address and the bus handler.
#include <gtest/gtest.h>

#include <set>

#include "core/bus/message_q.h"
#include "core/meta/user_meta.h"
#include "core/net/ip_text.h"
#include "overlay/routing/contact_list.h"
#include "overlay/index/download_source_sink.h"
#include "overlay/index/flock_download_sources.h"
#include "overlay/index/location_link.h"
#include "overlay/opcodes.h"
#include "overlay/requests/result_callback.h"
#include "overlay/index/service.h"
#include "overlay/index/service_search.h"
#include "overlay/overlay_fixture.h"
#include "overlay/scripted_nodes_fixture.h"
#include "support/memory_files.h"
#include "v4ada/memory/malloc4.h"

using namespace overlaytest;

namespace {

class RecordingCallback : public ResultCallback {
public:
    void gotResult(Service* result) override { results.push_back(idBytes(result->descId)); }
    void searchEnd(ServiceSearch*, Node* node, int next, int total) override {
        OwnedString text;
        ends.push_back(std::string(ipToText(node->ip, text)) + " " + std::to_string(next) + "/" +
                       std::to_string(total));
    }
    std::vector<std::string> results;
    std::vector<std::string> ends;
};

std::string resultDatagram(const UniqueID& key, uint8_t desc) {
    Service s;
    s.serviceId = key;
    s.descId = idOf({desc});
    s.set("loc", "bcp://192.0.2.7:4662", kTagString);
    support::ByteWriter out;
    s.toNetwork(out.file());
    return datagram(INODE_SEARCHRESULT, support::as_text(out.bytes()));
}

std::string endDatagram(const UniqueID& key, uint16_t next, uint16_t total) {
    return datagram(INODE_SEARCHEND, idBytes(key) + le16(next) + le16(total));
}

class SearchTest : public GatewayTest {
protected:
    void SetUp() override {
        startGateway();
        node_ = peer("10.0.5.1", 4672);
        given_ = makeNode(idOf({0x50}), "10.0.5.1", 4672);
    }
    // A search of the key through the given node.
    void searchGiven(const UniqueID& key) {
        gateway_->searchNode(new Node(given_), new ServiceSearch(key), &callback_);
        sim_.settle();
    }
    void answer(const std::string& bytes) { sendFrom(node_, bytes); }

    support::DatagramPeer* node_ = nullptr;
    Node given_;
    RecordingCallback callback_;
};

TEST_F(SearchTest, ResultsThenAnEndCountAsOneSuccess) {
    UniqueID key = idOf({0x42});
    searchGiven(key);
    ASSERT_EQ(node_->receivedWith(INODE_SEARCH).size(), 1u);
    EXPECT_EQ(node_->received[0].bytes, datagram(INODE_SEARCH, idBytes(key) + std::string(1, '\0') + le16(0) + le16(100)));
    answer(resultDatagram(idOf({0x41}), 9));  // another key: not for this search
    for (uint8_t d = 1; d <= 3; d++) answer(resultDatagram(key, d));
    EXPECT_EQ(gateway_->requesterCount(), 1);
    answer(endDatagram(idOf({0x41}), 3, 3));
    EXPECT_EQ(gateway_->requesterCount(), 1);
    answer(endDatagram(key, 3, 3));
    EXPECT_EQ(callback_.results, (std::vector<std::string>{idBytes(idOf({1})), idBytes(idOf({2})), idBytes(idOf({3}))}));
    EXPECT_EQ(callback_.ends, std::vector<std::string>{"10.0.5.1 3/3"});
    EXPECT_EQ(gateway_->requesterCount(), 0) << "one success was all a given node is asked for";
    EXPECT_EQ(ui_.count("searchClosed"), 1);
}

TEST_F(SearchTest, EarlyEndWithoutResultsBlacklists) {
    UniqueID key = idOf({0x43});
    searchGiven(key);
    answer(endDatagram(key, 40, 120));
    EXPECT_TRUE(callback_.ends.empty());
    EXPECT_TRUE(gateway_->isBlacklisted(ipFromText("10.0.5.1"), 4672));
    EXPECT_NE(output_.debugged().find("Black Listing: (10.0.5.1:4672)\n"), std::string::npos) << output_.debugged();
    EXPECT_EQ(gateway_->requesterCount(), 0);
    // Nothing of it is taken any more.
    sendFrom(node_, datagram(INODE_HELLO, record(given_)));
    EXPECT_TRUE(node_->receivedWith(INODE_HELLOREPLY).empty());

    // With a result first, the same end is accepted.
    support::DatagramPeer* other = peer("10.0.5.2", 4672);
    Node second = makeNode(idOf({0x51}), "10.0.5.2", 4672);
    gateway_->searchNode(new Node(second), new ServiceSearch(key), &callback_);
    sim_.settle();
    sendFrom(other, resultDatagram(key, 7));
    sendFrom(other, endDatagram(key, 40, 120));
    EXPECT_EQ(callback_.ends, std::vector<std::string>{"10.0.5.2 40/120"});
    EXPECT_FALSE(gateway_->isBlacklisted(ipFromText("10.0.5.2"), 4672));
}

TEST_F(SearchTest, ResultsThenSilenceIsASuccessAndAGivenNodeIsNotRetried) {
    UniqueID key = idOf({0x44});
    searchGiven(key);
    answer(resultDatagram(key, 1));
    sim_.advance(19900);
    EXPECT_EQ(gateway_->requesterCount(), 1);
    answer(resultDatagram(key, 2));
    sim_.advance(19900);
    EXPECT_EQ(gateway_->requesterCount(), 1) << "each result gives 20000 ms more";
    sim_.advance(300);
    EXPECT_EQ(gateway_->requesterCount(), 0);
    EXPECT_EQ(callback_.results.size(), 2u);
    EXPECT_TRUE(callback_.ends.empty());

    support::DatagramPeer* silent = peer("10.0.5.3", 4672);
    sim_.network.recording = true;
    gateway_->searchNode(new Node(makeNode(idOf({0x52}), "10.0.5.3", 4672)), new ServiceSearch(key), &callback_);
    sim_.advance(60000);
    EXPECT_EQ(silent->receivedWith(INODE_SEARCH).size(), 1u);
    size_t searches = 0;
    for (const support::Datagram& d : sim_.network.log) searches += d.opcode() == INODE_SEARCH;
    EXPECT_EQ(searches, 1u) << "nobody else is asked";
    EXPECT_EQ(gateway_->requesterCount(), 0);
}

TEST_F(SearchTest, ANodeGivesNoMoreResultsThanTheSearchAsksFor) {
    UniqueID key = idOf({0x45});
    auto search = new ServiceSearch(key);
    search->max = 30;
    gateway_->searchNode(new Node(given_), search, &callback_);
    sim_.settle();
    for (int i = 0; i < 30; i++) answer(resultDatagram(key, static_cast<uint8_t>(i)));
    EXPECT_EQ(callback_.results.size(), 30u);
    // A flood past the most: not taken, and it keeps nothing open.
    for (int step = 0; step < 3; step++) {
        sim_.advance(6000);
        for (int i = 0; i < 200; i++) answer(resultDatagram(key, static_cast<uint8_t>(100 + i % 100)));
    }
    EXPECT_EQ(callback_.results.size(), 30u);
    sim_.advance(2100);
    EXPECT_EQ(gateway_->requesterCount(), 0) << "20000 ms after the last result taken";
}

TEST_F(SearchTest, KeywordSearchReachesTheTwoNearestNodes) {
    ScriptedNodes nodes(sim_.network, 80, 21);
    UniqueID key;
    ServiceSearch probe("Harbor");
    key = probe.key;
    int answered = 0;
    for (auto& node : nodes.nodes()) {
        node->onRequest = [&](ScriptedNode& self, const support::Datagram& d) {
            std::vector<std::string> replies;
            if (d.opcode() != INODE_SEARCH) return replies;
            answered++;
            replies.push_back(resultDatagram(key, self.node.id.bytes()[0]));
            replies.push_back(endDatagram(key, 1, 1));
            return replies;
        };
    }
    for (int i = 0; i < 4; i++) gateway_->contacts()->add(&nodes.at(static_cast<size_t>(i * 20)).node);
    gateway_->startSearch(new ServiceSearch("HARBOR"), &callback_);
    sim_.advance(2000);
    EXPECT_EQ(answered, 2);
    std::vector<Node> nearest = nodes.nearest(key, 2);
    ASSERT_EQ(callback_.results.size(), 2u);
    std::set<std::string> got(callback_.results.begin(), callback_.results.end());
    EXPECT_TRUE(got.count(idBytes(idOf({nearest[0].id.bytes()[0]}))));
    EXPECT_TRUE(got.count(idBytes(idOf({nearest[1].id.bytes()[0]}))));
    EXPECT_EQ(callback_.ends.size(), 2u);
    EXPECT_EQ(gateway_->requesterCount(), 0);
}

// ---- download sources ----

class RecordingSink : public DownloadSourceSink {
public:
    RecordingSink() { setDownloadSourceSink(this); }
    ~RecordingSink() { setDownloadSourceSink(nullptr); }
    void addSource(const UniqueID& hash, UserMeta* user) override {
        OwnedString a;
        OwnedString b;
        char* hex = user->userHash().toHex();
        added.push_back(idBytes(hash) + " " + ipToText(user->ip(), a) + ":" + std::to_string(user->port()) + " " +
                        hex + " " + ipToText(user->buddyIp(), b) + ":" + std::to_string(user->buddyPort()));
        i4_free(hex);
    }
    std::vector<std::string> added;
};

TEST_F(SearchTest, SourceSearchTimer) {
    sim_.network.recording = true;
    Node contact = makeNode(idOf({0x50}), "10.0.5.1", 4672);
    gateway_->contacts()->add(&contact);
    std::unique_ptr<DownloadSources> sources(gateway_->newDownloadSources());
    auto* flock = static_cast<FlockDownloadSources*>(sources.get());
    UniqueID hash = idOf({0xF5});
    auto lookups = [&] {
        size_t n = 0;
        for (const support::Datagram& d : sim_.network.log)
            n += d.opcode() == INODE_ROUTE && d.bytes.substr(3) == idBytes(hash);
        return n;
    };
    sources->search(hash);
    sim_.settle();
    EXPECT_EQ(lookups(), 0u) << "no verdict yet";
    EXPECT_EQ(flock->timer(), kSourceSearchEveryMs);
    gateway_->self().setIp(ipFromText("198.51.100.7"));
    gateway_->setFirewalled(NetworkGateway::kOpen);
    sources->search(hash);
    sim_.settle();
    EXPECT_EQ(lookups(), 1u) << "the first request searches at once";
    sources->tick(kSourceSearchEveryMs - 1);
    sources->search(hash);
    sim_.settle();
    EXPECT_EQ(lookups(), 1u);
    sources->tick(5);
    EXPECT_EQ(flock->timer(), kSourceSearchEveryMs);
    sources->search(hash);
    sources->reset();
    sources->search(hash);
    EXPECT_EQ(flock->timer(), 0);
}

TEST_F(SearchTest, DispatcherTurnsLinksIntoSources) {
    RecordingSink sink;
    struct Case {
        const char* link;
        bool open;  // own status open (else firewalled)
        const char* source;  // ip:port user buddy:port, or "" for none
    };
    const std::string zeros(32, '0');
    const Case cases[] = {
        {"bcp://192.0.2.7:4662", true, "192.0.2.7:4662 00000000000000000000000000000000 0.0.0.0:0"},
        {"bcp://192.0.2.7:4662", false, "192.0.2.7:4662 00000000000000000000000000000000 0.0.0.0:0"},
        {"xxxxxx192.0.2.7::4662::", true, "192.0.2.7:4662 00000000000000000000000000000000 0.0.0.0:0"},
        {"bcp://0123456789abcdef0123456789ABCDEF:10.1.2.3:4672", true,
         "0.0.0.0:0 0123456789abcdef0123456789abcdef 10.1.2.3:4672"},
        {"bcp://0123456789abcdef0123456789abcdef:10.1.2.3:4672", false, ""},
        {"bcp://0123456789abcdef:10.1.2.3:4672", true, ""},
        {"bcp://192.0.2.7", true, ""},
        {"bcp:/", true, ""},
        {"bcp://192.0.2.7:0", true, ""},
        {"bcp://192.0.2.7:70000", true, ""},
        {"bcp://nonsense:4662", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        gateway_->firewall().decide(!c.open, nullptr);
        if (c.open) {
            gateway_->self().setIp(ipFromText("198.51.100.7"));
            gateway_->setFirewalled(NetworkGateway::kOpen);
        }
        ASSERT_EQ(gateway_->firewallStatus(), c.open ? 0 : 1);
        sink.added.clear();
        Service found;
        found.serviceId = idOf({0xF6});
        found.set("loc", c.link, kTagString);
        gateway_->sourcesDispatcher().gotResult(&found);
        if (*c.source == 0) {
            EXPECT_TRUE(sink.added.empty());
        } else {
            ASSERT_EQ(sink.added.size(), 1u);
            EXPECT_EQ(sink.added[0], idBytes(idOf({0xF6})) + " " + c.source);
        }
    }
    Service noLink;
    gateway_->sourcesDispatcher().gotResult(&noLink);
    EXPECT_TRUE(sink.added.empty());
}

TEST(LocationLink, FormsOfTheLink) {
    EXPECT_STREQ(openLocationLink(ipFromText("192.0.2.7"), 4662).c_str(), "bcp://192.0.2.7:4662");
    EXPECT_STREQ(buddyLocationLink(UniqueID(), ipFromText("10.1.2.3"), 4672).c_str(),
                 "bcp://00000000000000000000000000000000:10.1.2.3:4672");
    LocationLink link;
    ASSERT_TRUE(parseLocationLink("bcp://00000000000000000000000000000000:10.1.2.3:4672:extra", &link));
    EXPECT_TRUE(link.buddyForm);
    EXPECT_EQ(link.ip, ipFromText("10.1.2.3"));
    EXPECT_EQ(link.port, 4672);
    EXPECT_FALSE(parseLocationLink(nullptr, &link));
    EXPECT_FALSE(parseLocationLink("bcp://:::::", &link));
}

TEST_F(SearchTest, OwnAddressAndTheLocationLink) {
    struct Case {
        uint32_t recordedBefore;
        const char* set;
        uint32_t recordedAfter;
    };
    const Case cases[] = {
        {0, "1.0.0.0", 1u},
        {ipFromText("198.51.100.9"), "1.0.0.0", ipFromText("198.51.100.9")},
        {ipFromText("198.51.100.9"), "203.0.113.4", ipFromText("203.0.113.4")},
    };
    for (const Case& c : cases) {
        host_->recorded = c.recordedBefore;
        gateway_->self().setIp(ipFromText(c.set));
        EXPECT_EQ(gateway_->self().ip(), ipFromText(c.set));
        EXPECT_EQ(host_->recorded, c.recordedAfter) << c.set;
    }
    EXPECT_STREQ(gateway_->location().c_str(), "bcp://203.0.113.4:4662");
    EXPECT_EQ(gateway_->ownIp(), ipFromText("203.0.113.4"));
}

TEST_F(SearchTest, BusHandlerRunsSearchesBootsAndRetests) {
    MessageQ bus;
    gateway_->handler().subscribe(&bus);
    for (int code : {MSG_SEARCH, MSG_SEARCH_VIA_NODE, MSG_RETEST_FIREWALL, MSG_BOOT})
        EXPECT_EQ(bus.handlerOf(code), &gateway_->handler());
    UniqueID key = idOf({0x45});
    bus.post(MSG_SEARCH_VIA_NODE, new SearchViaNode{new Node(given_), new ServiceSearch(key)});
    bus.post(MSG_SEARCH_VIA_NODE, nullptr);
    bus.post(MSG_SEARCH_VIA_NODE, new SearchViaNode{nullptr, new ServiceSearch(key)});
    auto boot = new Meta();
    boot->set("ipStr", "10.0.5.9", kTagString);
    int32_t port = 4999;
    boot->set("port", &port, kTagInt);
    bus.post(MSG_BOOT, boot);
    bus.post(MSG_RETEST_FIREWALL, nullptr);
    support::DatagramPeer* bootNode = peer("10.0.5.9", 4999);
    while (bus.tick(0)) sim_.settle();
    EXPECT_EQ(node_->receivedWith(INODE_SEARCH).size(), 1u);
    EXPECT_EQ(bootNode->receivedWith(INODE_CONNECT).size(), 1u);
    EXPECT_EQ(gateway_->firewall().state(), FirewallTask::kTesting);
    answer(resultDatagram(key, 3));
    answer(endDatagram(key, 1, 1));
    EXPECT_EQ(ui_.count("searchEnd"), 1);
    gateway_->handler().unsubscribe(&bus);
    EXPECT_EQ(bus.handlerOf(MSG_SEARCH), nullptr);
}

}  // namespace
