// DataCollector: counts what other nodes ask this node for (hellos,
// searches, publishes and route requests) and reports the counts to
// log.txt together with the overlay endpoint's traffic. Installed as a
// gateway's request counter (FlockGateway::setRequestCounter), it counts
// only once collecting has been switched on; collecting then stays on.
// The counters are written and read on the task thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "overlay/requests/request_counter.h"
#include "v4ada/time/time_value.h"

class ClockedConnection;

// What the overlay endpoint measured: averaged receive and send rates
// (bytes per ms) and the bytes received and sent in all.
struct EndpointTraffic {
    double down = 0.0;
    double up = 0.0;
    uint64_t received = 0;
    uint64_t sent = 0;
};

// The endpoint's figures; all 0 without an endpoint.
EndpointTraffic trafficOf(const ClockedConnection* endpoint);

class DataCollector final : public RequestCounter {
public:
    DataCollector() = default;
    DataCollector(const DataCollector&) = delete;
    DataCollector& operator=(const DataCollector&) = delete;

    // One more request of the kind, while collecting.
    void countHello() override { count(hello_); }
    void countSearch() override { count(search_); }
    void countPublish() override { count(publish_); }
    void countRoute() override { count(route_); }

    // The four counters := 0; start := now.
    void reset();
    // Three log lines: "Data Collector:", the milliseconds since the start
    // with the four counters, and the endpoint's traffic.
    void print(const EndpointTraffic& traffic) const;

    void startCollecting() { collecting_.store(true, std::memory_order_relaxed); }
    bool collecting() const { return collecting_.load(std::memory_order_relaxed); }

    int hello() const { return hello_; }
    int search() const { return search_; }
    int publish() const { return publish_; }
    int route() const { return route_; }

private:
    void count(int& counter) {
        if (collecting()) counter++;
    }

    int hello_ = 0;
    int search_ = 0;
    int publish_ = 0;
    int route_ = 0;
    TimeValue start_;
    std::atomic<bool> collecting_{false};
};
