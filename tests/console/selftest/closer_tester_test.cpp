// The closer test over a scripted overlay: the own node's rank among the
// nearest contacts for each stored key, near and other counts per key,
// and the round every 60,000 ms with its dump.
#include "console/selftest/closer_tester.h"

#include <gtest/gtest.h>

#include "console/selftest/overlay_probe_fixture.h"
#include "core/net/ip_text.h"
#include "support/ui_capture.h"

using namespace selftesttest;

namespace {

// Key 0: a contact's distance to it is its identifier. The own node is
// {0x40}; contacts {0x01 + i} are nearer, {0x80 + i} farther.
class CloserTesterTest : public ::testing::Test {
protected:
    CloserTesterTest() {
        ui_.setVerbose(true);
        probe_.own = idWith({0x40});
    }
    // The table's answer: `nearer` contacts nearer than the own node and
    // `farther` farther ones, farther ones first (the table does not sort).
    void contacts(int nearer, int farther, bool withOwn = false) {
        probe_.contacts.clear();
        for (int i = 0; i < farther; i++) add(idWith({static_cast<uint8_t>(0x80 + i)}));
        if (withOwn) add(probe_.own);
        for (int i = 0; i < nearer; i++) add(idWith({static_cast<uint8_t>(0x01 + i)}));
    }
    void add(const UniqueID& id) {
        Node node;
        node.id = id;
        node.ip = ipFromText("10.0.0.9");
        node.port = 4672;
        probe_.contacts.push_back(node);
    }

    support::CaptureUI ui_;
    FakeProbe probe_;
    CloserTester tester_{probe_};
    UniqueID key_;
};

TEST_F(CloserTesterTest, RankAmongTheNineNearest) {
    struct Case {
        const char* name;
        int nearer, farther;
        bool withOwn;
        int rank;
    } cases[] = {
        {"nearest of all", 0, 9, false, 1},
        {"second", 1, 8, false, 2},
        {"second, the table holding the own node too", 1, 7, true, 2},
        {"third", 2, 7, false, 3},
        {"ninth", 8, 1, false, 9},
        {"ninth, the table holding the own node too", 8, 0, true, 9},
        {"not among the nine", 9, 0, false, 0},
        {"second of a small table", 1, 0, false, 2},
        {"empty table", 0, 0, false, 1},
    };
    for (const Case& c : cases) {
        contacts(c.nearer, c.farther, c.withOwn);
        EXPECT_EQ(tester_.rankOf(key_), c.rank) << c.name;
    }
}

TEST_F(CloserTesterTest, RecordsCountNearForRankOneOrTwo) {
    UniqueID other = idWith({0x41});
    probe_.store(key_, idWith({1}));
    probe_.store(other, idWith({2}));
    struct Round {
        int nearer;
        bool nearFlag;
        int nearCount, otherCount, rank;
    } rounds[] = {
        {1, true, 1, 0, 2},
        {8, false, 1, 1, 9},
        {9, false, 1, 2, 0},
        {0, true, 2, 2, 1},
    };
    for (const Round& r : rounds) {
        contacts(r.nearer, 9 - r.nearer);
        probe_.visitStored(&tester_);
        ASSERT_EQ(tester_.recordCount(), 2);
        const CloserRecord& record = tester_.record(0);
        EXPECT_TRUE(record.id.equals(key_));
        EXPECT_EQ(record.nearFlag, r.nearFlag) << r.nearer;
        EXPECT_EQ(record.nearCount, r.nearCount) << r.nearer;
        EXPECT_EQ(record.otherCount, r.otherCount) << r.nearer;
        EXPECT_EQ(record.rank, r.rank) << r.nearer;
    }
    EXPECT_EQ(probe_.stored.size(), 2u) << "every service is kept";
}

TEST_F(CloserTesterTest, EveryMinuteARoundAndItsDump) {
    probe_.store(key_, idWith({1}));
    probe_.store(key_, idWith({2}));  // a second entry under the same key
    contacts(1, 8);
    EXPECT_FALSE(tester_.tick(60000));
    EXPECT_TRUE(ui_.logged().empty());
    tester_.tick(1);
    const std::string hex = hexOf(key_);
    EXPECT_EQ(ui_.debugged(), "closer test update (2 publishes)\n[2] 1, 2, 0 (" + hex + ")\n");
    EXPECT_EQ(ui_.logged(), (std::vector<std::string>{"************ Dumping CloserTester ***********",
                                                      "1, 2, 0 (" + hex + ")",
                                                      "********* Done Dumping CloserTester *********"}));
    ui_.clear();
    tester_.tick(59999);
    EXPECT_TRUE(ui_.logged().empty()) << "the count starts again";
    contacts(5, 4);
    tester_.tick(2);
    EXPECT_EQ(ui_.logged().at(1), "0, 2, 2 (" + hex + ")");
}

}  // namespace
