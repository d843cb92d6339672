// The data collector's reporting task: a report and a fresh count every
// 300,000 ms while collecting, nothing otherwise.
#include "console/selftest/collect_task.h"

#include <gtest/gtest.h>

#include "console/selftest/overlay_probe_fixture.h"
#include "overlay/gateway/data_collector.h"
#include "support/ui_capture.h"
#include "v4ada/time/clock_source.h"

using namespace selftesttest;

namespace {

class CollectTaskTest : public ::testing::Test {
protected:
    void requests(int hellos, int searches) {
        for (int i = 0; i < hellos; i++) collector_.countHello();
        for (int i = 0; i < searches; i++) collector_.countSearch();
    }

    ManualClock clock_;
    ScopedClockSource scope_{&clock_};
    support::CaptureUI ui_;
    FakeProbe probe_;
    DataCollector collector_;
};

TEST_F(CollectTaskTest, ReportsAndStartsAgainEveryFiveMinutes) {
    collector_.startCollecting();
    requests(4, 1);
    CollectTask task(collector_, probe_);
    EXPECT_EQ(collector_.hello(), 0) << "the counts start with the task";
    probe_.endpoint.down = 2.0;
    probe_.endpoint.received = 70000;
    probe_.endpoint.sent = 900;
    requests(3, 2);
    clock_.advanceMs(300001);
    EXPECT_FALSE(task.tick(300000));
    EXPECT_TRUE(ui_.logged().empty());
    task.tick(1);
    EXPECT_EQ(ui_.logged(), (std::vector<std::string>{
                                "Data Collector:",
                                "Time(300001), Hello(3), Publish(0), Search(2), Route(0)",
                                "OHDown(2.0000), OHUp(0.0000), OHTD(70000), OHTU(900)",
                            }));
    EXPECT_EQ(collector_.hello() + collector_.search(), 0);

    ui_.clear();
    requests(1, 0);
    clock_.advanceMs(300001);
    task.tick(300000);
    EXPECT_TRUE(ui_.logged().empty()) << "the period counts from the last report";
    task.tick(1);
    ASSERT_EQ(ui_.logged().size(), 3u);
    EXPECT_EQ(ui_.logged()[1], "Time(300001), Hello(1), Publish(0), Search(0), Route(0)");
}

TEST_F(CollectTaskTest, SilentWhileNotCollecting) {
    CollectTask task(collector_, probe_);
    requests(2, 2);
    for (int i = 0; i < 3; i++) task.tick(300001);
    EXPECT_TRUE(ui_.logged().empty());
    EXPECT_EQ(collector_.hello(), 0) << "nothing counted either";
}

}  // namespace
