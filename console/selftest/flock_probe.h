// FlockProbe: the overlay measurements' view of the program's overlay
// gateway (flockGateway), looked up at every call: without a gateway (or
// before it started) searches are dropped, nothing is published and the
// routing table and index count as empty.
#pragma once

#include "console/selftest/overlay_probe.h"

class FlockProbe final : public OverlayProbe {
public:
    void publish(Service* service) override;
    void startSearch(ServiceSearch* search, ResultCallback* callback) override;
    UniqueID ownId() override;
    int nearest(const UniqueID& key, int n, LL* out) override;
    int storedCount() override;
    void visitStored(ElementFunctor* visitor) override;
    EndpointTraffic traffic() override;
    void countRequests(RequestCounter* counter) override;
};
