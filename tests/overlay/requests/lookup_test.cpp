// Lookups and requesters over scripted nodes on the in-memory network:
// the nearest nodes found, requests in flight, dead nodes reported to
// their parents, the blacklist, shared lookups and requesters that end.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "overlay/opcodes.h"
#include "overlay/overlay_fixture.h"
#include "overlay/requests/explorer.h"
#include "overlay/requests/explorer_list.h"
#include "overlay/requests/hello_requester.h"
#include "overlay/routing/contact_list.h"
#include "overlay/scripted_nodes_fixture.h"

using namespace overlaytest;

namespace {

std::set<std::string> idsOf(const std::vector<Node>& nodes) {
    std::set<std::string> ids;
    for (const Node& n : nodes) ids.insert(idBytes(n.id));
    return ids;
}

class LookupTest : public GatewayTest {
protected:
    void SetUp() override { startGateway(); }

    // n scripted nodes; the gateway's table gets `seeds` of them.
    void makeNetwork(int n, int seeds, unsigned seed = 11) {
        nodes_ = std::make_unique<ScriptedNodes>(sim_.network, n, seed);
        for (int i = 0; i < seeds; i++) gateway_->contacts()->add(&nodes_->at(static_cast<size_t>(i * (n / seeds))).node);
    }
    // Nodes the gateway said hello to (the destinations of a hello lookup).
    std::set<std::string> greeted() {
        std::set<std::string> ids;
        for (auto& node : nodes_->nodes())
            if (!node->peer->receivedWith(INODE_HELLO).empty()) ids.insert(idBytes(node->node.id));
        return ids;
    }
    int routesTo(const ScriptedNode& node) { return static_cast<int>(node.peer->receivedWith(INODE_ROUTE).size()); }
    HelloRequester* hello(const UniqueID& target, int wanted) {
        auto requester = new HelloRequester(*gateway_, target, wanted);
        requester->start();
        return requester;
    }

    std::unique_ptr<ScriptedNodes> nodes_;
};

class LookupSizes : public LookupTest, public ::testing::WithParamInterface<int> {};

TEST_P(LookupSizes, FindsTheTrueNearestWithThreeInFlight) {
    int size = GetParam();
    makeNetwork(size, 4, static_cast<unsigned>(size));
    int maxInFlight = 0;
    ui_.onQuery = [&](Explorer* lookup, Node*) {
        int waiting = 0;
        for (NodeWithParents* c : lookup->candidates().nodes<NodeWithParents>())
            if (c->state() == kCandidateWaiting) waiting++;
        maxInFlight = std::max(maxInFlight, waiting);
    };
    std::mt19937 rng(static_cast<unsigned>(size) + 1);
    for (int round = 0; round < 3; round++) {
        UniqueID target = randomId(rng);
        for (auto& node : nodes_->nodes()) node->peer->received.clear();
        hello(target, kHelloWanted);
        sim_.advance(1000);
        EXPECT_EQ(greeted(), idsOf(nodes_->nearest(target, kHelloWanted)));
        EXPECT_EQ(gateway_->requesterCount(), 0) << "20 answers: the requester is done";
        EXPECT_EQ(gateway_->explorers().count(), 0);
    }
    EXPECT_EQ(maxInFlight, kExplorerInFlight);
    ui_.onQuery = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Nodes, LookupSizes, ::testing::Values(50, 120, 200));

TEST_F(LookupTest, StartsFromTheTableAndAsksTheThreeNearest) {
    makeNetwork(30, 30);
    for (auto& node : nodes_->nodes()) node->mode = ScriptedNode::kSilent;
    std::mt19937 rng(5);
    UniqueID target = randomId(rng);
    struct Case {
        int wanted;
        int candidates;
    } cases[] = {{20, 20}, {2, 10}};
    for (const Case& c : cases) {
        hello(target, c.wanted);
        sim_.settle();
        Explorer* lookup = gateway_->explorers().find(target);
        ASSERT_NE(lookup, nullptr);
        EXPECT_EQ(lookup->candidates().count(), c.candidates);
        std::vector<Node> three = nodes_->nearest(target, 3, false);
        int routes = 0;
        for (auto& node : nodes_->nodes()) routes += routesTo(*node);
        EXPECT_EQ(routes, 3);
        for (const Node& n : three) EXPECT_EQ(routesTo(*nodes_->byAddress(n.ip, n.port)), 1);
        gateway_->explorers().clear();
        for (auto& node : nodes_->nodes()) node->peer->received.clear();
    }
}

TEST_F(LookupTest, SilentCandidateIsReportedDeadToEachParent) {
    makeNetwork(80, 3);
    std::mt19937 rng(9);
    UniqueID target = randomId(rng);
    // The node nearest the target never answers.
    Node silent = nodes_->nearest(target, 1)[0];
    ScriptedNode* quiet = nodes_->byAddress(silent.ip, silent.port);
    quiet->mode = ScriptedNode::kSilent;
    hello(target, 5);
    sim_.advance(kRouteTimeoutMs + 2000);
    std::set<std::string> parents;
    for (auto& node : nodes_->nodes()) {
        bool named = std::count(node->named.begin(), node->named.end(), idBytes(silent.id)) > 0;
        auto dead = node->peer->receivedWith(INODE_DEADNODE);
        if (named && !node->peer->receivedWith(INODE_ROUTE).empty()) {
            ASSERT_EQ(dead.size(), 1u);
            EXPECT_EQ(dead[0].bytes, datagram(INODE_DEADNODE, record(makeNode(silent.id, silent.ip, silent.port, 0))));
            parents.insert(idBytes(node->node.id));
        } else {
            EXPECT_TRUE(dead.empty());
        }
    }
    EXPECT_FALSE(parents.empty());
    EXPECT_TRUE(quiet->peer->receivedWith(INODE_HELLO).empty());
    EXPECT_EQ(greeted(), idsOf(nodes_->nearest(target, 5)));
    EXPECT_EQ(ui_.count("nodeTimedOut"), 1);
}

TEST_F(LookupTest, BlacklistedNodesAreNeverCandidates) {
    makeNetwork(60, 3);
    std::mt19937 rng(12);
    UniqueID target = randomId(rng);
    std::vector<Node> near = nodes_->nearest(target, 3);
    for (const Node& n : near) gateway_->blacklistNode(&n);
    hello(target, 10);
    sim_.advance(1000);
    for (const Node& n : near) {
        ScriptedNode* s = nodes_->byAddress(n.ip, n.port);
        EXPECT_TRUE(s->peer->received.empty());
    }
    std::vector<Node> expected = nodes_->nearest(target, 13);
    expected.erase(expected.begin(), expected.begin() + 3);
    EXPECT_EQ(greeted(), idsOf(expected));
}

TEST_F(LookupTest, SecondRequesterJoinsAndGetsMoreDestinations) {
    makeNetwork(100, 4);
    std::mt19937 rng(21);
    UniqueID target = randomId(rng);
    // The first asks for 2 and stays (its nodes ignore hellos); the second
    // wants 8 of the same target.
    for (auto& node : nodes_->nodes()) node->mode = ScriptedNode::kNoHello;
    hello(target, 2);
    sim_.advance(500);
    std::set<std::string> first = greeted();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(gateway_->explorers().count(), 1);
    for (auto& node : nodes_->nodes()) node->mode = ScriptedNode::kAnswer;
    hello(target, 8);
    EXPECT_EQ(gateway_->explorers().count(), 1) << "the second joins the first's lookup";
    EXPECT_EQ(gateway_->explorers().find(target)->wanted(), 8);
    sim_.advance(500);
    std::set<std::string> all = greeted();
    EXPECT_EQ(all.size(), 8u);
    for (auto& node : nodes_->nodes()) {
        if (!first.count(idBytes(node->node.id))) continue;
        EXPECT_EQ(node->peer->receivedWith(INODE_HELLO).size(), 2u) << "offered to the second too";
    }
    EXPECT_EQ(gateway_->requesterCount(), 1) << "the second has its 8";
}

TEST_F(LookupTest, DestinationThatIgnoresTheRequestIsSkippedNotReportedDead) {
    makeNetwork(60, 3);
    std::mt19937 rng(33);
    UniqueID target = randomId(rng);
    Node firewalled = nodes_->nearest(target, 1)[0];
    nodes_->byAddress(firewalled.ip, firewalled.port)->mode = ScriptedNode::kNoHello;
    hello(target, 4);
    sim_.advance(kHelloTimeoutMs + 1000);
    for (auto& node : nodes_->nodes()) EXPECT_TRUE(node->peer->receivedWith(INODE_DEADNODE).empty());
    std::vector<Node> expected = nodes_->nearest(target, 5);
    EXPECT_EQ(greeted(), idsOf(expected)) << "the fifth nearest took its place";
    EXPECT_EQ(gateway_->requesterCount(), 0);
}

TEST_F(LookupTest, ExhaustedRequesterEnds) {
    // Empty table: nothing to ask.
    HelloRequester* lonely = hello(idOf({1}), 20);
    (void)lonely;
    EXPECT_EQ(gateway_->requesterCount(), 0);
    EXPECT_EQ(gateway_->explorers().count(), 0);

    // Three silent contacts: ended once their route requests timed out.
    makeNetwork(3, 3);
    for (auto& node : nodes_->nodes()) node->mode = ScriptedNode::kSilent;
    hello(idOf({1}), 20);
    EXPECT_EQ(gateway_->requesterCount(), 1);
    sim_.advance(kRouteTimeoutMs);
    EXPECT_EQ(gateway_->requesterCount(), 1);
    sim_.advance(200);
    EXPECT_EQ(gateway_->requesterCount(), 0);
    EXPECT_EQ(gateway_->explorers().count(), 0);
    EXPECT_EQ(ui_.count("explorerDeleted"), 2);

    // The next requester for that target explores afresh.
    for (auto& node : nodes_->nodes()) node->peer->received.clear();
    hello(idOf({1}), 20);
    sim_.settle();
    int routes = 0;
    for (auto& node : nodes_->nodes()) routes += routesTo(*node);
    EXPECT_EQ(routes, 3);
}

TEST_F(LookupTest, DestinationWaitsForNearerCandidates) {
    makeNetwork(4, 4);
    UniqueID target = nodes_->at(0).node.id;
    target.bytes()[15] ^= 1;  // node 0 is the nearest by far
    std::vector<Node> order = nodes_->nearest(target, 4);
    ScriptedNode* first = nodes_->byAddress(order[0].ip, order[0].port);
    ScriptedNode* second = nodes_->byAddress(order[1].ip, order[1].port);
    ScriptedNode* third = nodes_->byAddress(order[2].ip, order[2].port);
    for (ScriptedNode* s : {first, second, third}) s->mode = ScriptedNode::kHold;
    for (ScriptedNode* s : {first, second, third}) s->known.clear();  // they name nobody
    hello(target, 1);
    sim_.settle();
    // The second nearest answers first: it stays good.
    nodes_->release(*second);
    sim_.settle();
    EXPECT_EQ(ui_.destinations, 0);
    // The nearest answers while the third is still waiting: destination.
    nodes_->release(*first);
    sim_.settle();
    EXPECT_EQ(ui_.destinations, 1);
    EXPECT_EQ(first->peer->receivedWith(INODE_HELLO).size(), 1u);
}

TEST_F(LookupTest, StopEndsLookupsAndRequesters) {
    makeNetwork(30, 3);
    for (auto& node : nodes_->nodes()) node->mode = ScriptedNode::kHold;
    hello(idOf({1}), 20);
    hello(idOf({2}), 5);
    EXPECT_EQ(gateway_->explorers().count(), 2);
    gateway_->stop();
    EXPECT_EQ(gateway_->requesterCount(), 0);
    EXPECT_EQ(gateway_->explorers().count(), 0);
    EXPECT_EQ(ui_.count("explorerDeleted"), 2);
    EXPECT_EQ(ui_.count("requesterRemoved"), 0) << "requesters leave before they are finished";
}

}  // namespace
