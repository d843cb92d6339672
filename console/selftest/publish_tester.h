// PublishTester: the publish test. 25 trackers (PublishTrackData) each
// publish a service of their own and search for it every 10 minutes for
// 48 hours; once the last of them is done the tester dumps the findings
// to log.txt by itself, once (and on request at any time). A task of the
// task thread.
#pragma once

#include "console/selftest/publish_track_data.h"
#include "core/task/time_slice_task.h"

class OverlayProbe;

class PublishTester final : public TimeSliceTask {
public:
    static constexpr int kTrackers = 25;
    // The trackers' period in seconds, as the dump names it.
    static constexpr int kIntervalSeconds = PublishTrackData::kPeriodMs / 1000;

    enum class Phase { kRunning, kFinished, kDumped };

    explicit PublishTester(OverlayProbe& probe) : probe_(probe) {}
    PublishTester(const PublishTester&) = delete;
    PublishTester& operator=(const PublishTester&) = delete;

    // Numbers the trackers 1 to 25, and each publishes once.
    void start();
    // Running: every tracker ticks; once all are done, the next tick dumps.
    bool tick(int elapsedMs) override;
    // To log.txt: a header, then per tracker its identifier and its slots
    // (the slots also to the debug output).
    void dump();

    Phase phase() const { return phase_; }
    const PublishTrackData& tracker(int i) const { return trackers_[i]; }
    PublishTrackData& tracker(int i) { return trackers_[i]; }

private:
    OverlayProbe& probe_;
    PublishTrackData trackers_[kTrackers];
    Phase phase_ = Phase::kRunning;
};
