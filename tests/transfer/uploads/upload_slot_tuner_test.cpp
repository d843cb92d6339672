// The slot tuner: test slots added and kept or removed, slots paused and
// removed or resumed, partners' slots kept, cool-down, and the cases in
// which nothing is tried.
#include <gtest/gtest.h>

#include "core/options/core_options.h"
#include "transfer/peer/peer.h"
#include "transfer/uploads/upload_pool.h"
#include "transfer/uploads/upload_slot.h"
#include "transfer/uploads/upload_slot_tuner.h"
#include "transfer/uploads/upload_world_fixture.h"

namespace uploadtest {
namespace {

class UploadSlotTunerTest : public UploadPoolWorld {
protected:
    void SetUp() override {
        UploadPoolWorld::SetUp();
        hub_->hashed = true;
        shareFile(hashOf(1), "big.bin", patternBytes(1 << 20), 0);
        tuner().setSendRate([this] { return sendRate_; });
        coreOptions()->setUploadLimit(10.0);
    }
    UploadSlotTuner& tuner() { return pool_->tuner(); }
    // count slots, each uploading to a peer of its own (partners when
    // asked). A pool tick after each request gives the busy slot its
    // upload's score.
    void busySlots(int count, bool partners = false) {
        while (pool_->slotCount() < count) pool_->addSlot();
        for (int i = 1; i <= count; i++) {
            Peer* peer = connectPeer(i);
            if (partners) sides_->downloads.partners.push_back(peer);
            askPart(peer, hashOf(1), 0, 1 << 20);
            tickPool(0);
        }
        for (int i = 0; i < count; i++) ASSERT_NE(pool_->slotAt(i)->upload(), nullptr);
    }
    // The tuner's own clock: a watch period passes and the line is judged.
    void evaluate() {
        tuner().tick(UploadSlotTuner::kWatchMs);
        tuner().tick(1);
    }

    double sendRate_ = 0.0;
};

// Each case a world of its own: the rate after the added slot's first
// upload against the 5 bytes/ms before it.
struct AddCase {
    double rateAfter;
    int state;
    int slots;
};

class AddedSlotTest : public UploadSlotTunerTest, public ::testing::WithParamInterface<AddCase> {};

TEST_P(AddedSlotTest, StaysOnlyWhenTheRateGrowsByMoreThanATenth) {
    const AddCase& c = GetParam();
    busySlots(2);
    sendRate_ = 5.0;
    takeDebug();
    evaluate();
    EXPECT_EQ(takeDebug(), "Test Add Slot\n");
    EXPECT_EQ(tuner().state(), UploadSlotTuner::kAdded);
    EXPECT_EQ(pool_->slotCount(), 3);
    // Waiting for a first upload, the test goes on as long as needed.
    tuner().tick(20000);
    EXPECT_EQ(tuner().state(), UploadSlotTuner::kAdded);
    coreOptions()->setCurrentUpRate(5.0);
    tuner().uploadStarted();
    EXPECT_EQ(tuner().state(), UploadSlotTuner::kMeasuringAdded);
    EXPECT_EQ(tuner().baseline(), 5.0);
    coreOptions()->setCurrentUpRate(c.rateAfter);
    tuner().tick(UploadSlotTuner::kMeasureAddedMs);
    EXPECT_EQ(tuner().state(), UploadSlotTuner::kMeasuringAdded);
    tuner().tick(1);
    EXPECT_EQ(tuner().state(), c.state);
    EXPECT_EQ(pool_->slotCount(), c.slots);
}

INSTANTIATE_TEST_SUITE_P(Rates, AddedSlotTest,
                         ::testing::Values(AddCase{6.0, UploadSlotTuner::kWatching, 3},
                                           AddCase{5.5, UploadSlotTuner::kCoolingDown, 2}));

// The rate while the lowest slot is paused, against 9.8 bytes/ms with it.
struct PauseCase {
    double rateWithout;
    int slots;
};

class PausedSlotTest : public UploadSlotTunerTest, public ::testing::WithParamInterface<PauseCase> {};

TEST_P(PausedSlotTest, GoesWhenTheRateHardlyFallsWithoutIt) {
    const PauseCase& c = GetParam();
    busySlots(5);
    sendRate_ = 9.8;  // 1.96 per slot against a limit of 10
    coreOptions()->setCurrentUpRate(9.8);
    takeDebug();
    evaluate();
    ASSERT_EQ(tuner().state(), UploadSlotTuner::kMeasuringPaused);
    UploadSlot* paused = tuner().testSlot();
    ASSERT_NE(paused, nullptr);
    EXPECT_TRUE(paused->upload()->paused());
    EXPECT_EQ(takeDebug(), "Test Drop: " + std::string(paused->peerName().c_str()) + "\n");
    EXPECT_EQ(tuner().baseline(), 9.8);
    coreOptions()->setCurrentUpRate(c.rateWithout);
    tuner().tick(UploadSlotTuner::kMeasurePausedMs);
    EXPECT_EQ(tuner().state(), UploadSlotTuner::kMeasuringPaused);
    tuner().tick(1);
    EXPECT_EQ(tuner().state(), UploadSlotTuner::kCoolingDown);
    EXPECT_EQ(pool_->slotCount(), c.slots);
    for (int i = 0; i < pool_->slotCount(); i++) EXPECT_FALSE(pool_->slotAt(i)->upload()->paused());
}

INSTANTIATE_TEST_SUITE_P(Rates, PausedSlotTest, ::testing::Values(PauseCase{9.5, 4}, PauseCase{9.0, 5}));

TEST_F(UploadSlotTunerTest, APartnersSlotIsNeverDropped) {
    busySlots(5, true);
    EXPECT_EQ(pool_->slotAt(0)->score(), UploadSlot::kPartnerScore);
    sendRate_ = 9.8;
    evaluate();
    EXPECT_EQ(tuner().state(), UploadSlotTuner::kWatching);
    tuner().reallyDrop(pool_->slotAt(0));
    EXPECT_EQ(pool_->slotCount(), 5);
}

TEST_F(UploadSlotTunerTest, AnUploadStartingOrEndingEndsAMeasurementAndCoolsDown) {
    busySlots(5);
    sendRate_ = 9.8;
    evaluate();
    UploadSlot* paused = tuner().testSlot();
    ASSERT_NE(paused, nullptr);
    tuner().uploadEnded();
    EXPECT_EQ(tuner().state(), UploadSlotTuner::kCoolingDown);
    EXPECT_FALSE(paused->upload()->paused());
    EXPECT_EQ(tuner().testSlot(), nullptr);
    tuner().tick(UploadSlotTuner::kCoolDownMs);
    EXPECT_EQ(tuner().state(), UploadSlotTuner::kCoolingDown);
    tuner().tick(1);
    EXPECT_EQ(tuner().state(), UploadSlotTuner::kWatching);
    EXPECT_EQ(tuner().elapsed(), 0);
    // An upload that starts while watching changes nothing.
    tuner().uploadStarted();
    EXPECT_EQ(tuner().state(), UploadSlotTuner::kWatching);
    tuner().tick(UploadSlotTuner::kWatchMs);
    EXPECT_EQ(tuner().state(), UploadSlotTuner::kWatching);
}

struct QuietCase {
    const char* what;
    int busy;
    double sendRate;
    double limit;
    double maxUp;
    int state;
};

class QuietTunerTest : public UploadSlotTunerTest, public ::testing::WithParamInterface<QuietCase> {};

TEST_P(QuietTunerTest, TriesOnlyWhereItLearnsSomething) {
    const QuietCase& c = GetParam();
    if (c.busy) busySlots(c.busy);
    sendRate_ = c.sendRate;
    coreOptions()->setUploadLimit(c.limit);
    coreOptions()->setMaxUpSpeed(c.maxUp);
    evaluate();
    EXPECT_EQ(tuner().state(), c.state) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, QuietTunerTest,
    ::testing::Values(QuietCase{"a free slot", 0, 0.0, 10.0, 5.0, UploadSlotTuner::kWatching},
                      QuietCase{"many slots carrying little", 4, 1.0, 10.0, 5.0, UploadSlotTuner::kWatching},
                      QuietCase{"a line between low and high", 2, 9.2, 10.0, 5.0, UploadSlotTuner::kWatching},
                      QuietCase{"few slots on a full line", 3, 9.8, 10.0, 5.0, UploadSlotTuner::kWatching},
                      QuietCase{"no limit: the peak speed counts", 2, 5.0, 0.0, 20.0, UploadSlotTuner::kAdded}));

}  // namespace
}  // namespace uploadtest
