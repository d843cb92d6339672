#include "downloads/storage/gap_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/ui_capture.h"

namespace {

using Gaps = std::vector<Gap>;

void build(GapList& list, const Gaps& gaps) {
    for (const Gap& gap : gaps) list.appendGap(gap);
}

struct EdgeCase {
    const char* what;
    Gaps before;
    enum Op { kAdd, kFill } op;
    Gap range;
    Gaps after;
};

class GapListEdges : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(GapListEdges, GivesTheListInOffsetOrder) {
    const EdgeCase& c = GetParam();
    GapList list;
    build(list, c.before);
    if (c.op == EdgeCase::kAdd) {
        list.addGap(c.range.start, c.range.end);
    } else {
        list.fill(c.range.start, c.range.end);
    }
    EXPECT_EQ(list.gaps(), c.after) << c.what;
    EXPECT_EQ(list.isEmpty(), c.after.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, GapListEdges,
    ::testing::Values(
        EdgeCase{"add to empty", {}, EdgeCase::kAdd, {3, 9}, {{3, 9}}},
        EdgeCase{"add touching end", {{0, 10}}, EdgeCase::kAdd, {10, 20}, {{0, 20}}},
        EdgeCase{"add touching start", {{20, 30}}, EdgeCase::kAdd, {10, 20}, {{10, 30}}},
        EdgeCase{"add bridging two", {{0, 10}, {20, 30}}, EdgeCase::kAdd, {10, 20}, {{0, 30}}},
        EdgeCase{"add inside", {{0, 10}}, EdgeCase::kAdd, {5, 8}, {{0, 10}}},
        EdgeCase{"add over several", {{2, 3}, {5, 6}, {8, 9}, {20, 25}}, EdgeCase::kAdd, {1, 10}, {{1, 10}, {20, 25}}},
        EdgeCase{"add empty range", {{0, 10}}, EdgeCase::kAdd, {15, 15}, {{0, 10}}},
        EdgeCase{"add apart", {{20, 30}}, EdgeCase::kAdd, {0, 5}, {{0, 5}, {20, 30}}},
        EdgeCase{"fill middle splits", {{0, 100}}, EdgeCase::kFill, {10, 20}, {{0, 10}, {20, 100}}},
        EdgeCase{"fill all", {{0, 100}}, EdgeCase::kFill, {0, 100}, {}},
        EdgeCase{"fill front", {{0, 100}}, EdgeCase::kFill, {0, 50}, {{50, 100}}},
        EdgeCase{"fill across two", {{0, 10}, {20, 30}}, EdgeCase::kFill, {5, 25}, {{0, 5}, {25, 30}}},
        EdgeCase{"fill outside", {{0, 10}}, EdgeCase::kFill, {10, 20}, {{0, 10}}},
        EdgeCase{"fill on empty", {}, EdgeCase::kFill, {0, 20}, {}},
        EdgeCase{"fill swallows several", {{0, 2}, {4, 6}, {8, 12}}, EdgeCase::kFill, {1, 10}, {{0, 1}, {10, 12}}},
        EdgeCase{"past 4 GiB", {{0, 0x100000010ull}}, EdgeCase::kFill, {0xFFFFFFF0ull, 0x100000000ull},
                 {{0, 0xFFFFFFF0ull}, {0x100000000ull, 0x100000010ull}}}));

TEST(GapList, OverlapsCountsSharedBytesNotTouching) {
    GapList list;
    list.appendGap({20, 30});
    EXPECT_FALSE(list.overlaps(10, 20));
    EXPECT_FALSE(list.overlaps(30, 40));
    EXPECT_TRUE(list.overlaps(19, 21));
    EXPECT_TRUE(list.overlaps(29, 30));
    EXPECT_TRUE(list.overlaps(0, 100));
    // Degenerate ranges ask about a single byte.
    EXPECT_TRUE(list.overlaps(25, 25));
    EXPECT_TRUE(list.overlaps(30, 30));
    EXPECT_FALSE(list.overlaps(31, 31));
    EXPECT_FALSE(list.overlaps(40, 10));
    GapList empty;
    EXPECT_FALSE(empty.overlaps(0, 1000));
}

TEST(GapList, IntersectionsClipToTheRange) {
    GapList list;
    list.appendGap({100, 200});
    list.appendGap({400000, 600000});
    std::vector<Gap> out;
    EXPECT_EQ(list.intersections(0, 486400, out), 2);
    EXPECT_EQ(out, (Gaps{{100, 200}, {400000, 486400}}));
    out.clear();
    EXPECT_EQ(list.intersections(200, 400000, out), 0);
    EXPECT_EQ(list.intersections(500, 500, out), 0);
    EXPECT_TRUE(out.empty());
}

TEST(GapList, DumpListsByOffsetWithUnsignedOffsets) {
    support::CaptureUI output;
    GapList list;
    list.appendGap({20, 30});
    list.appendGap({0, 10});
    list.appendGap({0x90000000ull, 0xFFFFFFFFull});
    list.dump();
    EXPECT_EQ(output.takeText(),
              "\n#   (start- end)\n(1) (0-10)\n(2) (20-30)\n(3) (2415919104-4294967295)\n\n\n");
}

// Random operations against a byte map: the list must always be the runs
// of missing bytes, disjoint and not touching.
TEST(GapList, RandomRunsMatchAByteMap) {
    constexpr uint64_t kSize = 700;
    for (uint32_t seed = 1; seed <= 20; seed++) {
        std::mt19937 random(seed);
        std::vector<bool> missing(kSize, false);
        GapList list;
        for (int step = 0; step < 300; step++) {
            uint64_t a = random() % (kSize + 1);
            uint64_t b = random() % (kSize + 1);
            switch (random() % 4) {
                case 0:
                    list.addGap(a, b);
                    for (uint64_t i = a; i < b; i++) missing[i] = true;
                    break;
                case 1:
                case 2:
                    list.fill(a, b);
                    for (uint64_t i = a; i < b; i++) missing[i] = false;
                    break;
                default: {
                    bool any = false;
                    for (uint64_t i = a; i < b; i++) any = any || missing[i];
                    if (a < b) {
                        ASSERT_EQ(list.overlaps(a, b), any) << seed << " " << step;
                    }
                    std::vector<Gap> pieces;
                    list.intersections(a, b, pieces);
                    uint64_t total = 0;
                    for (const Gap& piece : pieces) {
                        ASSERT_TRUE(piece.start >= a && piece.end <= b && piece.start < piece.end);
                        for (uint64_t i = piece.start; i < piece.end; i++) ASSERT_TRUE(missing[i]);
                        total += piece.length();
                    }
                    uint64_t expected = 0;
                    for (uint64_t i = a; i < b; i++) expected += missing[i];
                    ASSERT_EQ(total, expected);
                }
            }
            Gaps runs;
            for (uint64_t i = 0; i < kSize; i++) {
                if (!missing[i]) continue;
                if (!runs.empty() && runs.back().end == i) {
                    runs.back().end = i + 1;
                } else {
                    runs.push_back({i, i + 1});
                }
            }
            ASSERT_EQ(list.gaps(), runs) << "seed " << seed << " step " << step;
        }
    }
}

}  // namespace
