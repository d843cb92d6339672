// UploadSlotTuner: fits the number of upload slots to the line. Every 5 s
// it compares the measured sending rate with the upload limit: with room
// on the line it adds a test slot and keeps it when the upload rate grew
// by more than about 11 % within 30 s of the slot's first upload; on a
// full line it pauses the lowest-scoring slot for 45 s and removes it when
// the rate fell by less than about 5 % without it. A cool-down of 60 s
// follows each test. A slot given to a partner is never removed.
//
// States: 0 watching, 1 a test slot was added and waits for its first
// upload, 2 measuring an added slot, 3 measuring with a slot paused,
// 4 cool-down. Any upload that starts or ends during 2 or 3 ends the test
// early (4). Task thread; part of the upload pool.
#pragma once

#include <functional>

class UploadPool;
class UploadSlot;

class UploadSlotTuner {
public:
    static constexpr int kWatching = 0;
    static constexpr int kAdded = 1;
    static constexpr int kMeasuringAdded = 2;
    static constexpr int kMeasuringPaused = 3;
    static constexpr int kCoolingDown = 4;

    static constexpr int kWatchMs = 5000;
    static constexpr int kMeasureAddedMs = 30000;
    static constexpr int kMeasurePausedMs = 45000;
    static constexpr int kCoolDownMs = 60000;
    // A free slot's share of the rate in the evaluation.
    static constexpr double kFreeSlotRate = 3.0;
    // Room below kLow x the limit, full above kHigh x the limit.
    static constexpr double kLow = 0.9;
    static constexpr double kHigh = 0.95;
    // Slots are added only while more than kFewSlots slots carry at least
    // kLeastPerSlot each; a slot is paused only when there are more than
    // kFewSlots and they carry less than kMostPerSlot each.
    static constexpr int kFewSlots = 3;
    static constexpr double kLeastPerSlot = 0.5;
    static constexpr double kMostPerSlot = 5.0;
    // An added slot stays when rate x kGrowth > the rate before it; a
    // paused one goes when rate x kLoss > the rate before the pause.
    static constexpr double kGrowth = 0.9;
    static constexpr double kLoss = 1.05;

    explicit UploadSlotTuner(UploadPool* pool);

    void tick(int elapsedMs);
    // Any slot started an upload.
    void uploadStarted();
    // Any slot's upload ended.
    void uploadEnded();
    // Removes the slot from the pool, unless it is given to a partner.
    void reallyDrop(UploadSlot* slot);

    // The socket pool's summed send rate in bytes per ms (tests replace
    // it; by default the core's socket pool).
    void setSendRate(std::function<double()> sendRate) { sendRate_ = std::move(sendRate); }

    int state() const { return state_; }
    int elapsed() const { return elapsed_; }
    UploadSlot* testSlot() const { return testSlot_; }
    double baseline() const { return baseline_; }

private:
    void evaluate();
    // The upload rate the pool measured (bytes per ms).
    static double uploadRate();

    UploadPool* pool_;
    UploadSlot* testSlot_ = nullptr;
    int elapsed_ = 0;
    int state_ = kWatching;
    double baseline_ = 0.0;
    std::function<double()> sendRate_;
};
