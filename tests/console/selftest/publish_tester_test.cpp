// The publish test over a scripted overlay, time given by ticks: the
// trackers' publishes, their slots per period, and the one dump once
// every tracker's 288 periods are over.
#include "console/selftest/publish_tester.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "console/selftest/overlay_probe_fixture.h"
#include "support/ui_capture.h"

using namespace selftesttest;

namespace {

constexpr int kPeriodMs = PublishTrackData::kPeriodMs;

class PublishTesterTest : public ::testing::Test {
protected:
    void SetUp() override {
        srand(11);
        ui_.setVerbose(true);
        tester_ = std::make_unique<PublishTester>(probe_);
        tester_->start();
    }
    // A tick longer than a period: every tracker, whatever its start,
    // ends one period.
    void period() { tester_->tick(kPeriodMs + 1); }
    // Each search started since the last call gets `results` results.
    void answerNew(int results) {
        for (; answered_ < probe_.searches.size(); answered_++) {
            for (int i = 0; i < results; i++) FakeProbe::answer(probe_.searches[answered_]);
        }
    }

    support::CaptureUI ui_;
    FakeProbe probe_;
    std::unique_ptr<PublishTester> tester_;
    size_t answered_ = 0;
};

TEST_F(PublishTesterTest, StartPublishesOneServicePerTracker) {
    ASSERT_EQ(probe_.published.size(), 25u);
    std::set<std::string> ids;
    for (int i = 0; i < PublishTester::kTrackers; i++) {
        const PublishTrackData& tracker = tester_->tracker(i);
        EXPECT_EQ(tracker.number(), i + 1);
        EXPECT_TRUE(probe_.published[i].first.equals(tracker.id()));
        EXPECT_FALSE(probe_.published[i].second.equals(tracker.id()));
        EXPECT_EQ(tracker.slot(0), PublishTrackData::kOneResult) << "slot 0: published";
        EXPECT_GE(tracker.timer(), 0);
        EXPECT_LE(tracker.timer(), kPeriodMs);
        ids.insert(hexOf(tracker.id()));
    }
    EXPECT_EQ(ids.size(), 25u) << "random identifiers";
    EXPECT_TRUE(probe_.searches.empty());
}

TEST_F(PublishTesterTest, SlotsRecordNoneOneOrSeveralResultsPerPeriod) {
    // Periods 1 to 4 get 0, 1, 3 and 1 results; period 5 is still open.
    for (int results : {0, 1, 3, 1}) {
        period();
        answerNew(results);
    }
    period();
    ASSERT_EQ(probe_.searches.size(), 5u * 25u);
    for (int i = 0; i < PublishTester::kTrackers; i++) {
        const PublishTrackData& tracker = tester_->tracker(i);
        EXPECT_TRUE(probe_.searches[i].search->key.equals(tracker.id()));
        EXPECT_EQ(probe_.searches[i].callback, &tracker);
        EXPECT_EQ(tracker.length(), 5);
        EXPECT_EQ(tracker.slotText(), "SID " + std::to_string(i + 1) + ", 2, 1, 2, 3, 2");
    }
    EXPECT_EQ(tester_->phase(), PublishTester::Phase::kRunning);
}

TEST_F(PublishTesterTest, DumpsOnceAfterEveryTrackersLastPeriod) {
    // Ticks shorter than a period: the trackers' random starts put their
    // periods out of step.
    int ticks = 0;
    while (ui_.logged().empty() && ticks < 3000) {
        tester_->tick(100000);
        answerNew(1);
        ticks++;
    }
    ASSERT_FALSE(ui_.logged().empty());
    std::string allTwos;
    for (int i = 0; i < PublishTrackData::kSlots; i++) allTwos += ", 2";
    std::vector<std::string> expected = {"Dumping PublishTester (25 trackers at 600 sec intervals) ..."};
    std::string debugged;
    for (int i = 0; i < PublishTester::kTrackers; i++) {
        const PublishTrackData& tracker = tester_->tracker(i);
        EXPECT_EQ(tracker.length(), PublishTrackData::kSlots) << "every tracker is done";
        std::string slots = "SID " + std::to_string(i + 1) + allTwos;
        expected.push_back("(" + std::to_string(i + 1) + ") SID: " + hexOf(tracker.id()));
        expected.push_back(slots);
        debugged += slots + "\n";
    }
    EXPECT_EQ(ui_.logged(), expected);
    EXPECT_EQ(ui_.debugged(), debugged);
    EXPECT_EQ(tester_->phase(), PublishTester::Phase::kDumped);

    size_t searches = probe_.searches.size();
    for (int i = 0; i < 100; i++) period();
    EXPECT_EQ(ui_.logged().size(), expected.size()) << "no second dump";
    EXPECT_EQ(probe_.searches.size(), searches) << "no search after the end";
}

TEST_F(PublishTesterTest, ResultsAfterTheLastPeriodAreIgnored) {
    for (int i = 0; i < PublishTrackData::kSlots; i++) {
        period();
        answerNew(1);
    }
    // The searches of the period after the last slot answer again.
    for (size_t i = probe_.searches.size() - 25; i < probe_.searches.size(); i++) FakeProbe::answer(probe_.searches[i]);
    const PublishTrackData& tracker = tester_->tracker(0);
    EXPECT_EQ(tracker.length(), PublishTrackData::kSlots);
    EXPECT_EQ(tracker.slot(PublishTrackData::kSlots - 1), PublishTrackData::kOneResult);
    EXPECT_EQ(tester_->phase(), PublishTester::Phase::kRunning);
    period();
    EXPECT_EQ(tester_->phase(), PublishTester::Phase::kFinished);
    EXPECT_TRUE(ui_.logged().empty());
    period();
    EXPECT_EQ(ui_.logged().size(), 51u);
}

}  // namespace
