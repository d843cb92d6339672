#include "core/net/clocked_connection.h"

#include "core/net/net_output.h"

void ClockedConnection::tick(int elapsedMs) {
    if (sinceLargeLogMs_ >= 0 && elapsedMs > 0) sinceLargeLogMs_ += elapsedMs;
    windowMs_ += elapsedMs;
    if (windowMs_ <= kWindowMs) return;

    sendRing_[ringIndex_] = static_cast<double>(sent_) / windowMs_;
    receiveRing_[ringIndex_] = static_cast<double>(received_) / windowMs_;
    ringIndex_ = (ringIndex_ + 1) % kRingSize;

    double sendSum = 0.0;
    double receiveSum = 0.0;
    for (int i = 0; i < kRingSize; i++) {
        sendSum += sendRing_[i];
        receiveSum += receiveRing_[i];
    }
    sendAverage_ = sendSum / 8.0;
    receiveAverage_ = receiveSum / 8.0;

    const bool large = receiveAverage_ > kLargeSpeed || receiveAverage_ < -kLargeSpeed;
    if (large && (sinceLargeLogMs_ < 0 || sinceLargeLogMs_ >= kLargeSpeedLogMs)) {
        sinceLargeLogMs_ = 0;
        net_log("Large Download Speed in ClockedConnection! (last 8 values / 8.0)");
        net_log("Bytes Sent: %d, Bytes Got: %d, Timepassed: %d", sent_, received_, windowMs_);
        const double* r = receiveRing_;
        net_log("Array: 0:%.2f, 1:%.2f, 2:%.2f, 3:%.2f, 4:%.2f, 5:%.2f, 6:%.2f, 7:%.2f, ", r[0], r[1], r[2], r[3],
                r[4], r[5], r[6], r[7]);
    }

    windowMs_ = 0;
    totalSent_ += static_cast<uint64_t>(static_cast<int64_t>(sent_));
    totalReceived_ += static_cast<uint64_t>(static_cast<int64_t>(received_));
    sent_ = 0;
    received_ = 0;
}
