// The router test over a scripted overlay: its key, a search every
// 300,000 ms, the ends it counts (only from the two ports), and one dump
// a period after the 180th search, then silence.
#include "console/selftest/router_tester.h"

#include <gtest/gtest.h>

#include "console/selftest/overlay_probe_fixture.h"
#include "core/net/ip_text.h"
#include "overlay/requests/result_callback.h"
#include "support/ui_capture.h"

using namespace selftesttest;

namespace {

// MD4 of "abc" (RFC 1320).
constexpr const char* kAbcKey = "a448017aaf21d8525fc10ae87aa6729d";
constexpr int kPeriodMs = RouterTester::kPeriodMs;

class RouterTesterTest : public ::testing::Test {
protected:
    // An end from a node at 10.0.0.9 and the port, for the last search.
    void end(int port, int next = 3, int total = 5) {
        Node node;
        node.ip = ipFromText("10.0.0.9");
        node.port = port;
        FakeProbe::Search& search = probe_.searches.back();
        search.callback->searchEnd(search.search.get(), &node, next, total);
    }

    support::CaptureUI ui_;
    FakeProbe probe_;
};

TEST_F(RouterTesterTest, NamesItsKeyAndSearchesEveryPeriod) {
    RouterTester tester(probe_, "abc", 4001, 4002);
    EXPECT_EQ(ui_.text(), std::string("router test will search for ") + kAbcKey + "\n");
    EXPECT_EQ(hexOf(tester.key()), kAbcKey);
    EXPECT_EQ(tester.index(), -1);
    tester.tick(kPeriodMs);
    EXPECT_TRUE(probe_.searches.empty());
    tester.tick(1);
    ASSERT_EQ(probe_.searches.size(), 1u);
    EXPECT_EQ(hexOf(probe_.searches[0].search->key), kAbcKey);
    EXPECT_EQ(probe_.searches[0].callback, &tester);
    EXPECT_EQ(tester.index(), 0);
    tester.tick(kPeriodMs);
    EXPECT_EQ(probe_.searches.size(), 1u);
}

TEST_F(RouterTesterTest, CountsOnlyEndsFromTheTwoPorts) {
    RouterTester tester(probe_, "abc", 4001, 4002);
    tester.tick(kPeriodMs + 1);
    for (int port : {4001, 4003, 4002, 4672, 4001}) end(port);
    EXPECT_EQ(tester.count(0), 3);
    const std::string line = std::string("service: ") + kAbcKey + "\tresult: (3,5)\tdest: [" +
                             std::to_string(static_cast<int32_t>(ipFromText("10.0.0.9"))) + ":4003]";
    ASSERT_EQ(ui_.logged().size(), 5u) << "every end is logged";
    EXPECT_EQ(ui_.logged()[1], line);
    tester.tick(kPeriodMs + 1);
    EXPECT_EQ(tester.count(1), 0) << "a new search counts from 0";
    end(4002);
    tester.dump();
    EXPECT_EQ(ui_.logged().back(), "router dump, 3, 1");
}

TEST_F(RouterTesterTest, DumpsOnceAfterThe180thSearchThenStaysIdle) {
    RouterTester tester(probe_, "abc", 4001, 4002);
    tester.dump();
    EXPECT_EQ(ui_.logged(), std::vector<std::string>{"router dump"}) << "on request before any search";
    ui_.clear();
    for (int i = 0; i < RouterTester::kSearches; i++) {
        tester.tick(kPeriodMs + 1);
        end(i % 2 == 0 ? 4001 : 4999);
    }
    ASSERT_EQ(probe_.searches.size(), 180u);
    EXPECT_EQ(tester.index(), 179);
    EXPECT_FALSE(tester.finished()) << "the last search has its period too";
    ui_.clear();
    tester.tick(kPeriodMs + 1);
    ASSERT_TRUE(tester.finished());
    std::string dump = "router dump";
    for (int i = 0; i < RouterTester::kSearches; i++) dump += i % 2 == 0 ? ", 1" : ", 0";
    EXPECT_EQ(ui_.logged(), std::vector<std::string>{dump});

    for (int i = 0; i < 50; i++) tester.tick(kPeriodMs + 1);
    end(4001);
    EXPECT_EQ(ui_.logged().size(), 1u) << "no line after the dump";
    EXPECT_EQ(probe_.searches.size(), 180u);
    EXPECT_EQ(tester.count(179), 0);
}

}  // namespace
