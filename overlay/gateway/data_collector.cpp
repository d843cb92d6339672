#include "overlay/gateway/data_collector.h"

#include "core/net/clocked_connection.h"
#include "overlay/gateway/flock_output.h"

EndpointTraffic trafficOf(const ClockedConnection* endpoint) {
    EndpointTraffic traffic;
    if (endpoint == nullptr) return traffic;
    traffic.down = endpoint->receiveAverage();
    traffic.up = endpoint->sendAverage();
    traffic.received = endpoint->totalReceived();
    traffic.sent = endpoint->totalSent();
    return traffic;
}

void DataCollector::reset() {
    hello_ = 0;
    search_ = 0;
    publish_ = 0;
    route_ = 0;
    start_.now();
}

void DataCollector::print(const EndpointTraffic& traffic) const {
    TimeValue now;
    flock_log("Data Collector:");
    flock_log("Time(%d), Hello(%d), Publish(%d), Search(%d), Route(%d)", TimeValue::msBetween(now, start_), hello_,
              publish_, search_, route_);
    flock_log("OHDown(%.4f), OHUp(%.4f), OHTD(%U), OHTU(%U)", traffic.down, traffic.up, traffic.received,
              traffic.sent);
}
