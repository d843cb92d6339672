// FakeProbe: an overlay for the overlay measurements, scripted by the
// test: the own identifier and the contacts nearest answers, the services
// stored here and the endpoint's traffic; publishes, searches (with their
// callbacks) and the installed request counter are kept.
#pragma once

#include <memory>
#include <vector>

#include "console/selftest/overlay_probe.h"
#include "overlay/index/service.h"
#include "overlay/index/service_search.h"
#include "overlay/routing/node.h"

namespace selftesttest {

class FakeProbe : public OverlayProbe {
public:
    struct Search {
        std::unique_ptr<ServiceSearch> search;
        ResultCallback* callback;
    };

    void publish(Service* service) override;
    void startSearch(ServiceSearch* search, ResultCallback* callback) override;
    UniqueID ownId() override { return own; }
    // Every contact (at most n), in the order given.
    int nearest(const UniqueID& key, int n, LL* out) override;
    int storedCount() override { return static_cast<int>(stored.size()); }
    void visitStored(ElementFunctor* visitor) override;
    EndpointTraffic traffic() override { return endpoint; }
    void countRequests(RequestCounter* installed) override { counter = installed; }

    // A stored service under the key.
    void store(const UniqueID& key, const UniqueID& desc);
    // One result for the search (a service under its key).
    static void answer(const Search& search);

    UniqueID own;
    std::vector<Node> contacts;
    std::vector<std::unique_ptr<Service>> stored;
    EndpointTraffic endpoint;
    // The serviceId and descId of each publish.
    std::vector<std::pair<UniqueID, UniqueID>> published;
    std::vector<Search> searches;
    RequestCounter* counter = nullptr;
};

// An identifier whose first bytes are given, the rest 0.
UniqueID idWith(std::initializer_list<uint8_t> head);
std::string hexOf(const UniqueID& id);

}  // namespace selftesttest
