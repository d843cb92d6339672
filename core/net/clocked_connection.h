// ClockedConnection: a connection that measures its rates. About every
// second its byte counters become bytes-per-millisecond samples in two
// rings of eight windows; the averages are the rings' means, and 64-bit
// totals keep every byte.
#pragma once

#include <cstdint>

#include "core/net/connection.h"

class ClockedConnection : public Connection {
public:
    // A window closes once more than this many milliseconds are gathered.
    static constexpr int kWindowMs = 1000;
    static constexpr int kRingSize = 8;
    // Received bytes per ms above which the window is logged, at most once
    // per kLargeSpeedLogMs of the connection's clock (a long fast transfer
    // would otherwise log every second).
    static constexpr double kLargeSpeed = 100.0;
    static constexpr int kLargeSpeedLogMs = 60000;

    void tick(int elapsedMs) override;

    double sendAverage() const { return sendAverage_; }
    double receiveAverage() const { return receiveAverage_; }
    uint64_t totalSent() const { return totalSent_; }
    uint64_t totalReceived() const { return totalReceived_; }
    double receiveSample(int slot) const { return receiveRing_[slot]; }
    double sendSample(int slot) const { return sendRing_[slot]; }
    int ringIndex() const { return ringIndex_; }

private:
    int32_t windowMs_ = 0;
    int64_t sinceLargeLogMs_ = -1;  // -1: never logged
    double sendRing_[kRingSize] = {};
    double receiveRing_[kRingSize] = {};
    int32_t ringIndex_ = 0;
    double sendAverage_ = 0.0;
    double receiveAverage_ = 0.0;
    uint64_t totalSent_ = 0;
    uint64_t totalReceived_ = 0;
};
