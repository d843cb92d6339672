#include "console/selftest/publish_tester.h"

#include "core/ui/ui_gateway.h"
#include "v4ada/memory/malloc4.h"

void PublishTester::start() {
    phase_ = Phase::kRunning;
    for (int i = 0; i < kTrackers; i++) {
        trackers_[i].setNumber(i + 1);
        trackers_[i].publish(probe_);
    }
}

bool PublishTester::tick(int elapsedMs) {
    switch (phase_) {
        case Phase::kRunning: {
            bool running = false;
            for (PublishTrackData& tracker : trackers_) {
                if (tracker.tick(elapsedMs, probe_)) running = true;
            }
            if (!running) phase_ = Phase::kFinished;
            break;
        }
        case Phase::kFinished:
            phase_ = Phase::kDumped;
            dump();
            break;
        case Phase::kDumped:
            break;
    }
    return false;
}

void PublishTester::dump() {
    UIGateway* ui = currentUI();
    if (ui == nullptr) return;
    ui->log("Dumping PublishTester (%d trackers at %d sec intervals) ...", kTrackers, kIntervalSeconds);
    for (const PublishTrackData& tracker : trackers_) {
        char* hex = tracker.id().toHex();
        ui->log("(%d) SID: %s", tracker.number(), hex);
        i4_free(hex);
        std::string slots = tracker.slotText();
        ui->log("%s", slots.c_str());
        ui->debug("%s\n", slots.c_str());
    }
}
