// PublishTrackData: one tracker of the publish test. It publishes a
// service under an identifier of its own, then every 600,000 ms searches
// for it and records in one slot per period whether it was found: 0 the
// period has not begun, 1 no result, 2 one result (slot 0: published),
// 3 more than one result. After 288 periods (48 hours) it is done.
#pragma once

#include <cstdint>
#include <string>

#include "overlay/requests/result_callback.h"
#include "v4ada/containers/unique_id.h"

class OverlayProbe;

class PublishTrackData final : public ResultCallback {
public:
    static constexpr int kSlots = 288;
    static constexpr int kPeriodMs = 600000;
    static constexpr uint8_t kNotBegun = 0;
    static constexpr uint8_t kNoResult = 1;
    static constexpr uint8_t kOneResult = 2;
    static constexpr uint8_t kSeveralResults = 3;

    // A random identifier; the timer starts anywhere in the first period
    // (random_below(600001) ms), so the trackers do not search together.
    PublishTrackData();

    void setNumber(int number) { number_ = number; }
    int number() const { return number_; }
    const UniqueID& id() const { return id_; }

    // A service with the tracker's identifier, a random descId and no
    // tags is published; slot 0 := 2.
    void publish(OverlayProbe& probe);
    // False once all 288 periods are over. When the timer passes a period
    // the period's slot is closed (1 without a result), the next one
    // begins and a search for the identifier starts.
    bool tick(int elapsedMs, OverlayProbe& probe);

    void gotResult(Service* result) override;
    void searchEnd(ServiceSearch*, Node*, int, int) override {}

    // "SID <number>" and ", <value>" for each slot from the first while
    // the slot is not 0.
    std::string slotText() const;
    uint8_t slot(int i) const { return slots_[i]; }
    int length() const { return len_; }
    int timer() const { return timer_; }

private:
    UniqueID id_;
    uint8_t slots_[kSlots] = {};
    int len_ = 0;
    int timer_ = 0;
    bool answered_ = true;
    int number_ = 0;
};
