#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/ui_capture.h"
#include "console/selftest/hash32_test.h"
#include "console/selftest/ll_test.h"
#include "console/selftest/test_master.h"

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

constexpr const char* kSortedStrings = "aaabbbbcdeeeeeefg";

TEST(StandardTests, PassWithTheirHeaderLinesInOrder) {
    support::CaptureUI ui;
    srand(1);
    TestMaster master;
    master.addStandardTests();
    master.run();

    const std::vector<std::string> expected = {
        " HashTable32 test:", " i4_strtok test:", " stristr test:", " BoolArray test:", " LL test:",
        kSortedStrings,       "(shuffled)",       "(shuffled)",     kSortedStrings,     " ListIterator test:",
        " UniqueID test:",    "go.",
    };
    std::vector<std::string> got = lines(ui.text());
    ASSERT_EQ(got.size(), expected.size()) << ui.text();
    for (size_t i = 0; i < got.size(); ++i) {
        if (expected[i] != "(shuffled)") {
            EXPECT_EQ(got[i], expected[i]) << "line " << i;
            continue;
        }
        // A shuffle keeps every string.
        std::string sorted = got[i];
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, kSortedStrings) << "line " << i;
    }
}

TEST(StandardTests, HashTableKeysWrapAt32Bits) {
    struct Case {
        uint32_t k1;
        uint32_t k2;
        bool passes;
    };
    const Case cases[] = {
        {1, 2, true},
        {7, 0xFFFFFFFE, true},  // k2 + 3 wraps to 1
        {5, 5, false},          // equal keys
        {0, 0xFFFFFFFF, false},  // k2 + 1 wraps to k1
        {1, 0xFFFFFFFE, false},  // k2 + 3 wraps to k1
    };
    for (const Case& c : cases) {
        support::CaptureUI ui;
        Hash32Test test;
        EXPECT_EQ(test.runWithKeys(c.k1, c.k2), c.passes) << c.k1 << " " << c.k2;
        EXPECT_EQ(ui.text(), " HashTable32 test:\n");
    }
}

TEST(StandardTests, ListTestRunsAgainOnItsOwnItems) {
    support::CaptureUI ui;
    LLTest test;
    EXPECT_TRUE(test.run());
    EXPECT_TRUE(test.run());
}

}  // namespace
