#include "console/selftest/flock_probe.h"

#include "overlay/gateway/black_udp_annex.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/index/service_directory.h"
#include "overlay/index/service_search.h"
#include "overlay/routing/contact_list.h"

void FlockProbe::publish(Service* service) {
    if (FlockGateway* gateway = flockGateway()) gateway->publish(service, false, 1.0);
}

void FlockProbe::startSearch(ServiceSearch* search, ResultCallback* callback) {
    FlockGateway* gateway = flockGateway();
    if (gateway == nullptr) {
        delete search;
        return;
    }
    gateway->startSearch(search, callback);
}

UniqueID FlockProbe::ownId() {
    FlockGateway* gateway = flockGateway();
    return gateway ? gateway->ownNode().id : UniqueID();
}

int FlockProbe::nearest(const UniqueID& key, int n, LL* out) {
    FlockGateway* gateway = flockGateway();
    ContactList* contacts = gateway ? gateway->contacts() : nullptr;
    return contacts ? contacts->nearest(key, n, out) : 0;
}

int FlockProbe::storedCount() {
    FlockGateway* gateway = flockGateway();
    return gateway ? gateway->directory().count() : 0;
}

void FlockProbe::visitStored(ElementFunctor* visitor) {
    if (FlockGateway* gateway = flockGateway()) gateway->directory().visit(visitor, nullptr);
}

EndpointTraffic FlockProbe::traffic() {
    FlockGateway* gateway = flockGateway();
    return trafficOf(gateway ? gateway->endpoint() : nullptr);
}

void FlockProbe::countRequests(RequestCounter* counter) {
    if (FlockGateway* gateway = flockGateway()) gateway->setRequestCounter(counter);
}
