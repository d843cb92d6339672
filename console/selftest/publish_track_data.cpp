#include "console/selftest/publish_track_data.h"

#include "console/selftest/overlay_probe.h"
#include "overlay/index/service.h"
#include "overlay/index/service_search.h"
#include "v4ada/time/random.h"

PublishTrackData::PublishTrackData() : timer_(random_below(kPeriodMs + 1)) { id_.randomize(); }

void PublishTrackData::publish(OverlayProbe& probe) {
    Service service;
    service.serviceId = id_;
    service.descId.randomize();
    probe.publish(&service);
    slots_[len_] = kOneResult;
}

bool PublishTrackData::tick(int elapsedMs, OverlayProbe& probe) {
    if (len_ > kSlots - 1) return false;
    timer_ += elapsedMs;
    if (timer_ <= kPeriodMs) return true;
    timer_ = 0;
    if (!answered_) slots_[len_] = kNoResult;
    len_++;
    answered_ = false;
    probe.startSearch(new ServiceSearch(id_), this);
    return true;
}

void PublishTrackData::gotResult(Service*) {
    if (len_ >= kSlots) return;
    if (answered_) {
        slots_[len_] = kSeveralResults;
    } else {
        slots_[len_] = kOneResult;
        answered_ = true;
    }
}

std::string PublishTrackData::slotText() const {
    std::string text = "SID " + std::to_string(number_);
    for (int i = 0; i < kSlots && slots_[i] != kNotBegun; i++) text += ", " + std::to_string(slots_[i]);
    return text;
}
