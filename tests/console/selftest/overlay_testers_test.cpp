// The holder of the overlay measurements and the master commands that use
// it: one tester of each kind, made on first use and joined to the task
// thread, dumps on later uses, collect counting into the gateway, and the
// holder leaving the task thread and the gateway clean.
#include "console/selftest/overlay_testers.h"

#include <gtest/gtest.h>

#include "console/cli/selftest_commands.h"
#include "console/selftest/closer_tester.h"
#include "console/selftest/collect_task.h"
#include "console/selftest/flock_probe.h"
#include "console/selftest/overlay_probe_fixture.h"
#include "console/selftest/publish_tester.h"
#include "console/selftest/router_tester.h"
#include "core/task/task_thread.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/index/service_directory.h"
#include "overlay/routing/contact_list.h"
#include "support/overlay_sim.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"

using namespace selftesttest;

namespace {

constexpr const char* kAbcKey = "a448017aaf21d8525fc10ae87aa6729d";

// The program's holder over a task thread of the test (driven by step,
// on the manual clock) and no overlay gateway.
class SelftestCommandsTest : public ::testing::Test {
protected:
    SelftestCommandsTest() { OverlayTesters::createInstance(tasks_); }
    ~SelftestCommandsTest() override {
        OverlayTesters::destroyInstance();
        tasks_.step();  // nothing of the holder is ticked any more
    }
    void run(void (*command)(char*), std::string line) { command(line.data()); }

    ManualClock clock_;
    ScopedClockSource scope_{&clock_};
    support::CaptureUI ui_;
    TaskThread tasks_;
};

TEST_F(SelftestCommandsTest, PublishTestStartsThenDumps) {
    run(testDrop_command, "testDrop");
    EXPECT_EQ(ui_.takeText(), "start publish test\n\n");
    OverlayTesters* testers = OverlayTesters::instance();
    ASSERT_NE(testers->publishTester(), nullptr);
    EXPECT_EQ(testers->publishTester()->tracker(24).number(), 25) << "started";
    run(testDrop_command, "testDrop");
    EXPECT_EQ(ui_.takeText(), "Dumping publish test (25 trackers at 600 sec intervals)...\n\ndone.\n");
    ASSERT_EQ(ui_.logged().size(), 51u);
    EXPECT_EQ(ui_.logged()[0], "Dumping PublishTester (25 trackers at 600 sec intervals) ...");
}

TEST_F(SelftestCommandsTest, CloserTestStartsThenDumps) {
    run(testCloser_command, "testCloser");
    EXPECT_EQ(ui_.takeText(), "start closer test\n\n");
    run(testCloser_command, "testCloser");
    EXPECT_EQ(ui_.takeText(), "Dumping closer test\n\n");
    EXPECT_EQ(ui_.logged(), (std::vector<std::string>{"************ Dumping CloserTester ***********",
                                                      "********* Done Dumping CloserTester *********"}));
}

TEST_F(SelftestCommandsTest, RouterTestNeedsATextAndTwoNonZeroPorts) {
    for (const char* line : {"testRouter", "testRouter abc", "testRouter abc 4001", "testRouter abc 0 4002",
                             "testRouter abc 4001 x"}) {
        run(testRouter_command, line);
        EXPECT_EQ(ui_.takeText(), "") << line;
        EXPECT_EQ(OverlayTesters::instance()->routerTester(), nullptr) << line;
    }
    run(testRouter_command, "testRouter abc 4001 4002");
    EXPECT_EQ(ui_.takeText(), std::string("router test will search for ") + kAbcKey + "\nstarted router test.\n");
    run(testRouter_command, "testRouter other 1 2");
    EXPECT_EQ(ui_.takeText(), "dumping router test\n\n");
    EXPECT_EQ(ui_.logged(), std::vector<std::string>{"router dump"});
    EXPECT_EQ(hexOf(OverlayTesters::instance()->routerTester()->key()), kAbcKey) << "arguments of later uses ignored";
}

TEST_F(SelftestCommandsTest, CollectStartsOneTaskAndSaysSoOnce) {
    run(collect_command, "collect");
    run(collect_command, "collect");
    EXPECT_EQ(ui_.takeText(), "start collecting stats\n\n");
    OverlayTesters* testers = OverlayTesters::instance();
    EXPECT_TRUE(testers->collector().collecting());
    ASSERT_NE(testers->collectTask(), nullptr);
}

TEST_F(SelftestCommandsTest, TestersTickOnTheTaskThread) {
    run(collect_command, "collect");
    run(testRouter_command, "testRouter abc 4001 4002");
    tasks_.step();
    clock_.advanceMs(300001);
    tasks_.step();
    EXPECT_EQ(ui_.logged().size(), 3u) << "the collector reported";
    EXPECT_EQ(OverlayTesters::instance()->routerTester()->index(), 0) << "the first search started";
}

// A holder over a scripted overlay, and the program's probe over a real
// gateway.
TEST(OverlayTesters, OneOfEachAndCleanLeaving) {
    support::CaptureUI ui;
    FakeProbe probe;
    TaskThread tasks;
    {
        OverlayTesters testers(probe, tasks);
        PublishTester* publish = &testers.makePublishTester();
        EXPECT_EQ(&testers.makePublishTester(), publish);
        EXPECT_EQ(probe.published.size(), 25u) << "started once";
        CloserTester* closer = &testers.makeCloserTester();
        EXPECT_EQ(&testers.makeCloserTester(), closer);
        RouterTester* router = &testers.makeRouterTester("abc", 1, 2);
        EXPECT_EQ(&testers.makeRouterTester("other", 3, 4), router);
        EXPECT_TRUE(testers.collect());
        EXPECT_FALSE(testers.collect());
        EXPECT_EQ(probe.counter, &testers.collector());
    }
    EXPECT_EQ(probe.counter, nullptr) << "the request handler counts no more";
    tasks.step();
}

TEST(FlockProbe, ReachesTheInstalledGateway) {
    support::CaptureUI ui;
    FlockProbe probe;
    Service service;
    service.serviceId.randomize();
    probe.publish(&service);
    probe.startSearch(new ServiceSearch(service.serviceId), nullptr);
    EXPECT_EQ(probe.storedCount(), 0) << "no gateway: nothing, and the search is freed";

    support::TempDir dir;
    support::OverlaySim sim;
    UniqueID own;
    own.randomize();
    support::SimHost& host = sim.addHost(own, "10.0.0.1", 4000, dir.path());
    FlockGateway gateway(host);
    gateway.start();
    sim.settle();
    setFlockGateway(&gateway);
    Node contact;
    contact.id.randomize();
    contact.ip = 0x0900000A;  // 10.0.0.9
    contact.port = 4672;
    gateway.contacts()->add(&contact);
    auto stored = new TimedService();
    stored->serviceId = service.serviceId;
    gateway.directory().add(stored);

    EXPECT_TRUE(probe.ownId().equals(own));
    LL nearest;
    EXPECT_EQ(probe.nearest(service.serviceId, 9, &nearest), 1);
    EXPECT_EQ(probe.storedCount(), 1);
    probe.publish(&service);
    EXPECT_EQ(gateway.publisher().queuedCount(), 1);
    DataCollector collector;
    probe.countRequests(&collector);
    EXPECT_EQ(gateway.requestCounter(), &collector);
    probe.countRequests(nullptr);
    EXPECT_EQ(gateway.requestCounter(), nullptr);

    setFlockGateway(nullptr);
    gateway.stop();
}

}  // namespace
