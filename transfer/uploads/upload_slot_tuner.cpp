#include "transfer/uploads/upload_slot_tuner.h"

#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "transfer/uploads/upload_pool.h"
#include "transfer/uploads/upload_slot.h"
#include "v4ada/error/error.h"

namespace {
double coreSendRate() {
    CoreThread* core = coreThread();
    STSocketPool* pool = core ? core->socketPool() : nullptr;
    return pool ? pool->currentUpRate() : 0.0;
}
}  // namespace

UploadSlotTuner::UploadSlotTuner(UploadPool* pool) : pool_(pool), sendRate_(coreSendRate) {}

double UploadSlotTuner::uploadRate() {
    CoreOptions* options = coreOptions();
    return options ? options->currentUpRate() : 0.0;
}

void UploadSlotTuner::tick(int elapsedMs) {
    elapsed_ += elapsedMs;
    switch (state_) {
        case kMeasuringAdded:
            if (elapsed_ <= kMeasureAddedMs) break;
            if (uploadRate() * kGrowth > baseline_) {
                state_ = kWatching;
            } else {
                state_ = kCoolingDown;
                reallyDrop(testSlot_);
            }
            break;
        case kMeasuringPaused:
            if (elapsed_ <= kMeasurePausedMs) break;
            state_ = kCoolingDown;
            if (uploadRate() * kLoss > baseline_) {
                reallyDrop(testSlot_);
            } else if (testSlot_) {
                testSlot_->resume();
            }
            break;
        case kCoolingDown:
            if (elapsed_ <= kCoolDownMs) break;
            state_ = kWatching;
            elapsed_ = 0;
            break;
        default:
            if (elapsed_ <= kWatchMs) break;
            elapsed_ = 0;
            if (state_ == kWatching) evaluate();
            break;
    }
}

void UploadSlotTuner::uploadStarted() {
    if (state_ != kAdded) {
        uploadEnded();
        return;
    }
    state_ = kMeasuringAdded;
    elapsed_ = 0;
    baseline_ = uploadRate();
}

void UploadSlotTuner::uploadEnded() {
    if (state_ == kMeasuringAdded) {
        state_ = kCoolingDown;
    } else if (state_ == kMeasuringPaused) {
        state_ = kCoolingDown;
        if (testSlot_) testSlot_->resume();
    } else {
        return;
    }
    elapsed_ = 0;
    testSlot_ = nullptr;
}

void UploadSlotTuner::evaluate() {
    double rate = sendRate_ ? sendRate_() : 0.0;
    const int slots = pool_->slotCount();
    for (int i = 0; i < slots; i++) {
        UploadSlot* slot = pool_->slotAt(i);
        if (slot->upload()) continue;
        // A free slot: nothing to learn.
        if (!slot->invited()) return;
        rate += kFreeSlotRate;
    }
    CoreOptions* options = coreOptions();
    double limit = options ? options->uploadLimit() : 0.0;
    if (limit == 0.0 && options) limit = options->maxUpSpeed();
    const double perSlot = slots > 0 ? rate / slots : rate;
    if (rate < kLow * limit) {
        if (slots > kFewSlots && perSlot < kLeastPerSlot) return;
        debug_printf("Test Add Slot\n");
        elapsed_ = 0;
        state_ = kAdded;
        testSlot_ = pool_->addSlot();
        return;
    }
    if (rate > kHigh * limit && slots > kFewSlots && perSlot < kMostPerSlot) {
        // The lowest score first, ties in random order.
        pool_->shuffleSlots();
        pool_->sortSlots();
        UploadSlot* lowest = pool_->slotAt(0);
        if (lowest->score() >= UploadSlot::kPartnerScore) return;
        elapsed_ = 0;
        state_ = kMeasuringPaused;
        testSlot_ = lowest;
        // The rate with the slot, against which its absence is measured.
        baseline_ = uploadRate();
        lowest->pause();
        OwnedString name = lowest->peerName();
        debug_printf("Test Drop: %s\n", name.c_str() ? name.c_str() : "");
    }
}

void UploadSlotTuner::reallyDrop(UploadSlot* slot) {
    OwnedString name = slot ? slot->peerName() : OwnedString("");
    debug_printf("reallyDrop(): %s\n", name.c_str() ? name.c_str() : "");
    if (!slot || slot->score() >= UploadSlot::kPartnerScore) return;
    if (slot == testSlot_) testSlot_ = nullptr;
    pool_->removeSlot(slot);
}
