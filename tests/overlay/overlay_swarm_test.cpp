// The whole overlay at scale: complete gateways on the in-memory network
// with loss and delay, driven by the manual clock and seeded. All boot
// from a few seeds and reach an open verdict; lookups for random targets
// find the true nearest live nodes; a keyword published on one node is
// found from many others, also once a tenth of the nodes stopped and the
// overlay ran on for 25 minutes. The figures (hops and datagrams per
// lookup and per search) are printed.
//
// TANDREL_SWARM_NODES sets the node count (500 here; the benchmarks run
// 10,000), TANDREL_SWARM_SEED the seed, TANDREL_SWARM_LOSS the fraction of
// datagrams lost (0.002) and TANDREL_SWARM_DELAY their delay in ms (30).
// Without retries a lost route request or answer leaves a near node out of
// a lookup, so the nearest-node figure falls by about twice the loss.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>

#include "core/meta/special_tags.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/index/service.h"
#include "overlay/index/service_search.h"
#include "overlay/opcodes.h"
#include "overlay/requests/explorer.h"
#include "overlay/requests/hello_requester.h"
#include "overlay/requests/node_with_parents.h"
#include "overlay/requests/result_callback.h"
#include "overlay/requests/search_requester.h"
#include "overlay/routing/contact_list.h"
#include "support/overlay_swarm.h"

namespace {

constexpr int kDefaultNodes = 500;
constexpr int kLookups = 200;
constexpr int kSearchers = 50;
constexpr size_t kNearest = 20;
// Overlay time between stopping a tenth of the nodes and searching again.
constexpr int64_t kHealMs = 25 * 60 * 1000;

// A setting from the environment, or the default.
double setting(const char* name, double fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != 0 ? std::strtod(text, nullptr) : fallback;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

// How many answers deep a destination of a lookup was found: a contact of
// the own table is one answer deep, a node named by others one more than
// the shallowest of them (a walk up the parents, breadth first).
int depthOf(Explorer* lookup, const UniqueID& id) {
    auto text = [](const UniqueID& x) { return std::string(reinterpret_cast<const char*>(x.bytes()), kUniqueIdSize); };
    std::vector<UniqueID> level{id};
    std::set<std::string> seen{text(id)};
    for (int hops = 1; !level.empty(); hops++) {
        std::vector<UniqueID> next;
        for (const UniqueID& at : level) {
            NodeWithParents* candidate = lookup->findCandidate(at);
            if (candidate == nullptr || candidate->parents.count() == 0) return hops;
            for (Node* parent : candidate->parents.nodes())
                if (seen.insert(text(parent->id)).second) next.push_back(parent->id);
        }
        level.swap(next);
    }
    return 1;
}

// What one lookup or search of a node came to.
struct Outcome {
    int node = -1;
    std::vector<UniqueID> found;  // destinations offered
    int hops = 0;
    int results = 0;
    uint64_t datagrams = 0;
    bool done = false;
};

// A lookup for the nearest nodes of a target (the destinations get a
// hello, as the node's own hello lookup sends).
class ProbeRequester : public HelloRequester {
public:
    ProbeRequester(FlockGateway& gateway, const UniqueID& target, Outcome* outcome)
        : HelloRequester(gateway, target, static_cast<int>(kNearest)), outcome_(outcome) {}
    ~ProbeRequester() override { outcome_->done = true; }
    void send(Node* node) override {
        outcome_->found.push_back(node->id);
        if (Explorer* lookup = explorer()) outcome_->hops = std::max(outcome_->hops, depthOf(lookup, node->id));
        HelloRequester::send(node);
    }

private:
    Outcome* outcome_;
};

// A search whose results and end are counted.
class ProbeSearch : public SearchRequester, public ResultCallback {
public:
    ProbeSearch(FlockGateway& gateway, const UniqueID& key, Outcome* outcome)
        : SearchRequester(gateway, new ServiceSearch(key), this), outcome_(outcome) {}
    ~ProbeSearch() override { outcome_->done = true; }
    void send(Node* node) override {
        if (Explorer* lookup = explorer()) outcome_->hops = std::max(outcome_->hops, depthOf(lookup, node->id));
        SearchRequester::send(node);
    }
    void gotResult(Service*) override { outcome_->results++; }
    void searchEnd(ServiceSearch*, Node*, int, int) override {}

private:
    Outcome* outcome_;
};

// Runs lookups and searches on the swarm, counting the overlay datagrams
// each asking node sends and receives while its request runs.
class SwarmRun {
public:
    explicit SwarmRun(support::OverlaySwarm& swarm) : swarm_(swarm) {
        swarm_.network().onDeliver = [this](const support::Datagram& d) {
            uint8_t op = d.opcode();
            bool counted = op == INODE_ROUTE || op == INODE_ROUTEREPLY || op == INODE_DEADNODE || op == INODE_SEARCH ||
                           op == INODE_SEARCHRESULT || op == INODE_SEARCHEND;
            if (!counted) return;
            for (uint32_t ip : {d.fromIp, d.toIp}) {
                auto watched = running_.find(ip);
                if (watched != running_.end() && !watched->second->done) watched->second->datagrams++;
            }
        };
    }
    ~SwarmRun() { swarm_.network().onDeliver = nullptr; }

    // Lookups for random targets from distinct random live nodes, as many
    // at once as there are nodes; the share of the true nearest live nodes
    // (the asking node aside) they found.
    double lookups(int count, std::vector<double>* hops, std::vector<double>* datagrams) {
        size_t found = 0;
        size_t wanted = 0;
        for (int started = 0; started < count;) {
            std::vector<int> askers = pick(count - started, -1);
            std::vector<std::unique_ptr<Outcome>> outcomes;
            std::vector<UniqueID> targets;
            for (int node : askers) {
                UniqueID target;
                for (int b = 0; b < kUniqueIdSize; b++) target.bytes()[b] = static_cast<uint8_t>(swarm_.random()());
                targets.push_back(target);
                outcomes.push_back(watch(node));
                (new ProbeRequester(swarm_.gateway(node), target, outcomes.back().get()))->start();
            }
            wait(outcomes);
            for (size_t k = 0; k < askers.size(); k++) {
                std::set<int> got;
                for (const UniqueID& id : outcomes[k]->found) got.insert(swarm_.nodeOf(id));
                for (int node : swarm_.nearestLive(targets[k], kNearest, askers[k])) {
                    found += got.count(node);
                    wanted++;
                }
                hops->push_back(outcomes[k]->hops);
                datagrams->push_back(static_cast<double>(outcomes[k]->datagrams));
            }
            started += static_cast<int>(askers.size());
        }
        return wanted > 0 ? static_cast<double>(found) / static_cast<double>(wanted) : 0.0;
    }

    // Searches for the key from distinct random live nodes other than the
    // publisher; how many got a result.
    int searches(const UniqueID& key, int publisher, int count, std::vector<double>* hops,
                 std::vector<double>* datagrams) {
        std::vector<std::unique_ptr<Outcome>> outcomes;
        for (int node : pick(count, publisher)) {
            outcomes.push_back(watch(node));
            (new ProbeSearch(swarm_.gateway(node), key, outcomes.back().get()))->start();
        }
        wait(outcomes);
        int succeeded = 0;
        for (const auto& outcome : outcomes) {
            succeeded += outcome->results > 0;
            hops->push_back(outcome->hops);
            datagrams->push_back(static_cast<double>(outcome->datagrams));
        }
        return succeeded;
    }

private:
    std::vector<int> pick(int count, int except) {
        std::vector<int> live = swarm_.liveNodes();
        live.erase(std::remove(live.begin(), live.end(), except), live.end());
        std::shuffle(live.begin(), live.end(), swarm_.random());
        live.resize(std::min(live.size(), static_cast<size_t>(count)));
        return live;
    }
    std::unique_ptr<Outcome> watch(int node) {
        auto outcome = std::make_unique<Outcome>();
        outcome->node = node;
        running_[swarm_.host(node).ip()] = outcome.get();
        return outcome;
    }
    // Until every request ended (a bounded time).
    void wait(const std::vector<std::unique_ptr<Outcome>>& outcomes) {
        auto pending = [&] {
            for (const auto& o : outcomes)
                if (!o->done) return true;
            return false;
        };
        for (int round = 0; round < 600 && pending(); round++) swarm_.advance(1000);
        running_.clear();
    }

    support::OverlaySwarm& swarm_;
    std::map<uint32_t, Outcome*> running_;
};

TEST(OverlaySwarm, BootsFindsPublishesAndSurvivesAStoppedTenth) {
    initSpecialTags();
    support::SwarmOptions options;
    options.nodes = support::swarmNodesFromEnvironment(kDefaultNodes);
    options.seed = static_cast<unsigned>(setting("TANDREL_SWARM_SEED", 7));
    options.loss = setting("TANDREL_SWARM_LOSS", 0.002);
    options.delayMs = static_cast<int>(setting("TANDREL_SWARM_DELAY", 30));
    {
        support::OverlaySwarm swarm(options);
        swarm.startAll(50, 1000);
        for (int round = 0; round < 120 && swarm.openCount() < swarm.size(); round++) swarm.advance(1000);
        ASSERT_EQ(swarm.openCount(), swarm.size()) << "every node reaches an open verdict";
        // The hello lookups of the new nodes settle.
        swarm.advance(30000);

        SwarmRun run(swarm);
        std::vector<double> hops;
        std::vector<double> lookupDatagrams;
        double recall = run.lookups(kLookups, &hops, &lookupDatagrams);
        EXPECT_GE(recall, 0.99);

        int publisher = swarm.liveNodes()[static_cast<size_t>(swarm.random()() % static_cast<unsigned>(swarm.size()))];
        Service keyword;
        ServiceSearch probe("harbor");
        keyword.serviceId = probe.key;
        keyword.descId = swarm.host(publisher).ownId();
        keyword.set("Test", "harbor", kTagString);
        swarm.gateway(publisher).publish(&keyword, false, 1.0);
        swarm.advance(10000);
        std::vector<double> searchHops;
        std::vector<double> searchDatagrams;
        EXPECT_EQ(run.searches(probe.key, publisher, kSearchers, &searchHops, &searchDatagrams), kSearchers);

        std::vector<int> live = swarm.liveNodes();
        std::shuffle(live.begin(), live.end(), swarm.random());
        int stopped = 0;
        for (int node : live) {
            if (stopped >= swarm.size() / 10) break;
            if (node == publisher) continue;
            swarm.stop(node);
            stopped++;
        }
        // The nodes' periodic hello lookups (every 20 minutes) report the
        // stopped ones to those that still name them, which drop them.
        swarm.advance(kHealMs);
        std::vector<double> churnHops;
        std::vector<double> churnDatagrams;
        EXPECT_EQ(run.searches(probe.key, publisher, kSearchers, &churnHops, &churnDatagrams), kSearchers);

        std::printf("[ swarm    ] %d nodes, seed %u, loss %.3f, delay %d ms\n", swarm.size(), options.seed,
                    options.loss, options.delayMs);
        std::printf("[ swarm    ] lookups: %.2f%% of the true %zu nearest, median %.1f hops, %.0f datagrams\n",
                    recall * 100.0, kNearest, median(hops), median(lookupDatagrams));
        std::printf("[ swarm    ] searches: median %.1f hops, %.0f datagrams; after %d stopped: %.1f hops, %.0f "
                    "datagrams\n",
                    median(searchHops), median(searchDatagrams), stopped, median(churnHops), median(churnDatagrams));
    }
    resetSpecialTags();
}

}  // namespace
