// OverlayProbe: what the overlay measurements (publish, closer and router
// tests, the data collector) use of the overlay node. FlockProbe is the
// program's one, over the installed overlay gateway; tests give their own.
// Task thread only.
#pragma once

#include "overlay/gateway/data_collector.h"
#include "v4ada/containers/unique_id.h"

class ElementFunctor;
class LL;
class RequestCounter;
class ResultCallback;
class Service;
class ServiceSearch;

class OverlayProbe {
public:
    virtual ~OverlayProbe() = default;

    // Publishes a copy of the service at the back of the queue, interval
    // factor 1.0 (the service stays the caller's).
    virtual void publish(Service* service) = 0;
    // Starts a search (taken over) whose results and ends go to the
    // callback, which must outlive the overlay's requesters.
    virtual void startSearch(ServiceSearch* search, ResultCallback* callback) = 0;
    virtual UniqueID ownId() = 0;
    // Appends up to n of the contacts nearest the key (not sorted, the
    // table's own nodes); returns how many.
    virtual int nearest(const UniqueID& key, int n, LL* out) = 0;
    // The services other nodes stored here: their count, and a walk that
    // hands each (a Service*) to the visitor and keeps it.
    virtual int storedCount() = 0;
    virtual void visitStored(ElementFunctor* visitor) = 0;
    virtual EndpointTraffic traffic() = 0;
    // The request handler counts into the counter from now on (null: no
    // more).
    virtual void countRequests(RequestCounter* counter) = 0;
};
