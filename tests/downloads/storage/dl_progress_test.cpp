#include "downloads/storage/dl_progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/ui_capture.h"
#include "v4ada/containers/bool_array.h"

namespace {

using Gaps = std::vector<Gap>;
constexpr uint64_t kCrumb = 486400;
constexpr uint64_t kPart = 9728000;

// A download of `size` bytes missing the given ranges.
struct Fixture {
    GapList gaps;
    uint64_t size;
    GapListView view;
    DLProgress progress;
    Fixture(uint64_t size, const Gaps& missing) : size(size), view(gaps, size) {
        for (const Gap& gap : missing) gaps.addGap(gap.start, gap.end);
        srand(7);
        progress.init(&view);
    }
    BoolArray* all() {
        map.resize(progress.crumbCount());
        map.setAll(true);
        return &map;
    }
    BoolArray map;
};

struct InitCase {
    const char* what;
    uint64_t size;
    Gaps missing;
    std::vector<Gaps> ranges;  // per crumb
};

class DLProgressInit : public ::testing::TestWithParam<InitCase> {};

TEST_P(DLProgressInit, BuildsFreeRangesAndWeights) {
    const InitCase& c = GetParam();
    Fixture f(c.size, c.missing);
    ASSERT_EQ(f.progress.crumbCount(), c.ranges.size()) << c.what;
    for (uint32_t i = 0; i < f.progress.crumbCount(); i++) {
        EXPECT_EQ(f.progress.entry(i).ranges, c.ranges[i]) << c.what << " crumb " << i;
        EXPECT_EQ(f.progress.weight(i), c.ranges[i].empty() ? -1 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DLProgressInit,
    ::testing::Values(
        InitCase{"one full crumb", kCrumb, {{0, kCrumb}}, {{{0, 243200}, {243200, kCrumb}}}},
        InitCase{"one byte more", kCrumb + 1, {{0, kCrumb + 1}},
                 {{{0, 243200}, {243200, kCrumb}}, {{kCrumb, kCrumb + 1}}}},
        InitCase{"middle of a crumb done", kCrumb, {{0, 1000}, {2000, kCrumb}}, {{{0, 1000}, {2000, kCrumb}}}},
        InitCase{"short last crumb whole", 1000, {{0, 1000}}, {{{0, 1000}}}},
        InitCase{"a complete crumb", 2 * kCrumb, {{kCrumb, 2 * kCrumb}},
                 {{}, {{kCrumb, kCrumb + 243200}, {kCrumb + 243200, 2 * kCrumb}}}}));

TEST(DLProgress, PickCapsLengthAndTakesTheRemainderWhole) {
    Fixture f(kCrumb, {{0, kCrumb}});
    uint64_t s = 0, e = 0;
    ASSERT_TRUE(f.progress.pickRange(f.all(), &s, &e, DLProgress::kUnverifiedPeerMax));
    uint64_t half = s;  // either half may come first
    EXPECT_EQ(e - s, 184320u);
    ASSERT_TRUE(f.progress.pickRange(f.all(), &s, &e, DLProgress::kUnverifiedPeerMax));
    EXPECT_EQ(s, half + 184320);
    EXPECT_EQ(e - s, 58880u);
    ASSERT_TRUE(f.progress.pickRange(f.all(), &s, &e, 0));
    EXPECT_EQ(e - s, 243200u);
    EXPECT_FALSE(f.progress.pickRange(f.all(), &s, &e, 0));
    EXPECT_FALSE(f.progress.hasFreeRange());
}

TEST(DLProgress, PickAnswersNothingForCompleteOrMissingCrumbs) {
    Fixture done(3 * kCrumb, {});
    uint64_t s, e;
    EXPECT_FALSE(done.progress.pickRange(done.all(), &s, &e, 0));

    Fixture f(3 * kCrumb, {{0, 3 * kCrumb}});
    BoolArray none(3);
    EXPECT_FALSE(f.progress.pickRange(&none, &s, &e, 0));
    BoolArray wrongSize(4);
    wrongSize.setAll(true);
    EXPECT_FALSE(f.progress.pickRange(&wrongSize, &s, &e, 0));
    EXPECT_FALSE(f.progress.pickRange(nullptr, &s, &e, 0));
    BoolArray second(3);
    second.set(1, true);
    ASSERT_TRUE(f.progress.pickRange(&second, &s, &e, 0));
    EXPECT_EQ(s / kCrumb, 1u);
}

TEST(DLProgress, RarerCrumbsFirstAndEqualWeightsKeepTheirOrder) {
    Fixture f(6 * kCrumb, {{0, 6 * kCrumb}});
    std::vector<uint32_t> shuffled = f.progress.order();
    std::vector<uint32_t> sorted = shuffled;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(sorted, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));

    BoolArray popular(6);
    popular.set(shuffled[0], true);
    popular.set(shuffled[3], true);
    f.progress.changeWeight(&popular, 1);
    std::vector<uint32_t> expected = {shuffled[1], shuffled[2], shuffled[4], shuffled[5], shuffled[0], shuffled[3]};
    EXPECT_EQ(f.progress.order(), expected);

    // A crumb with fewer free bytes moves ahead of its equals only after a
    // weight change sorts again.
    uint64_t s, e;
    BoolArray only(6);
    only.set(shuffled[5], true);
    ASSERT_TRUE(f.progress.pickRange(&only, &s, &e, 1000));
    f.progress.changeWeight(&popular, 1);
    expected = {shuffled[5], shuffled[1], shuffled[2], shuffled[4], shuffled[0], shuffled[3]};
    EXPECT_EQ(f.progress.order(), expected);

    f.progress.gotCrumb(shuffled[1]);
    EXPECT_EQ(f.progress.order().back(), shuffled[1]);
    EXPECT_EQ(f.progress.weight(shuffled[1]), -1);
    EXPECT_TRUE(f.progress.entry(shuffled[1]).ranges.empty());
}

TEST(DLProgress, WeightsClampAtZeroAndReportTheOperation) {
    support::CaptureUI output;
    Fixture f(2 * kCrumb, {{0, 2 * kCrumb}});
    BoolArray first(2);
    first.set(0, true);
    f.progress.changeWeight(&first, -1);
    EXPECT_EQ(f.progress.weight(0), 0);
    EXPECT_EQ(output.takeText(), "DLProgress::changeWeight\n");
    BoolArray second(2);
    second.set(1, true);
    f.progress.changeCrumbs(&second, &first, 1);
    EXPECT_EQ(f.progress.weight(0), 1);
    EXPECT_EQ(f.progress.weight(1), 0);
    EXPECT_EQ(output.takeText(), "DLProgress::changeCrumbs\n");
    EXPECT_FALSE(f.progress.allAvailable());
    f.progress.changeWeight(&second, 1);
    EXPECT_TRUE(f.progress.allAvailable());
}

TEST(DLProgress, CrumbIndexOutOfRangeIsReportedAndChangesNothing) {
    support::CaptureUI output;
    Fixture f(2 * kCrumb, {{0, 2 * kCrumb}});
    f.progress.gotCrumb(2);
    f.progress.resetCrumb(2);
    EXPECT_EQ(output.takeText(), "ERROR: DLProgress::gotCrumb(2) 2\nERROR: DLProgress::gotCrumb(2) 2\n");
    EXPECT_EQ(f.progress.weight(0), 0);
    EXPECT_EQ(f.progress.weight(1), 0);
}

TEST(DLProgress, ReturnAddsOnlyMissingBytesNotAlreadyFree) {
    Fixture f(2 * kCrumb, {{0, 2 * kCrumb}});
    uint64_t s, e;
    // Take all of both crumbs, receive a piece, give everything back.
    while (f.progress.pickRange(f.all(), &s, &e, 0)) {}
    f.gaps.fill(100000, 600000);
    EXPECT_EQ(f.progress.returnRange(0, 2 * kCrumb), 2);
    EXPECT_EQ(f.progress.entry(0).ranges, (Gaps{{0, 100000}}));
    EXPECT_EQ(f.progress.entry(1).ranges, (Gaps{{600000, 2 * kCrumb}}));
    // Giving it back twice frees nothing twice.
    EXPECT_EQ(f.progress.returnRange(0, 2 * kCrumb), 0);
    EXPECT_EQ(f.progress.entry(0).freeBytes, 100000u);
}

// Bytes of a verified crumb lost on disk (a part file cut short) are
// given back: the crumb is offered again, only what is missing, and the
// freed count tells waiting sources to look.
TEST(DLProgress, ReturnOffersAgainACompleteCrumbThatLostBytes) {
    Fixture f(2 * kCrumb, {});
    ASSERT_EQ(f.progress.weight(1), CrumbEntry::kComplete);
    ASSERT_FALSE(f.progress.hasFreeRange());
    uint64_t before = f.progress.freedCount();
    f.gaps.addGap(kCrumb + 1000, 2 * kCrumb);
    EXPECT_EQ(f.progress.returnRange(kCrumb + 1000, 2 * kCrumb), 1);
    EXPECT_EQ(f.progress.weight(1), 0);
    EXPECT_EQ(f.progress.entry(1).ranges, (Gaps{{kCrumb + 1000, 2 * kCrumb}}));
    EXPECT_EQ(f.progress.weight(0), CrumbEntry::kComplete) << "untouched";
    EXPECT_NE(f.progress.freedCount(), before);
    BoolArray crumb0(2);
    crumb0.set(0, true);
    EXPECT_FALSE(f.progress.hasFreeFor(&crumb0));
    EXPECT_TRUE(f.progress.hasFreeFor(f.all()));
    uint64_t s, e;
    ASSERT_TRUE(f.progress.pickRange(f.all(), &s, &e, 0));
    EXPECT_EQ(s, kCrumb + 1000);
    EXPECT_EQ(e, 2 * kCrumb);
    // Nothing missing, nothing freed: the count stays.
    before = f.progress.freedCount();
    EXPECT_EQ(f.progress.returnRange(0, kCrumb), 0);
    EXPECT_EQ(f.progress.freedCount(), before);
}

TEST(DLProgress, PartRangeIsOneRunAndRemovesExactlyIt) {
    // Part 0 misses [1000, 2000) and [3000, 1,000,000); part 1 is done.
    Fixture f(kPart + 10, {{1000, 2000}, {3000, 1000000}});
    uint64_t s, e;
    ASSERT_TRUE(f.progress.pickPartRange(&s, &e));
    EXPECT_EQ(s, 1000u);
    EXPECT_EQ(e, 2000u);
    ASSERT_TRUE(f.progress.pickPartRange(&s, &e));
    EXPECT_EQ(s, 3000u);
    EXPECT_EQ(e, 1000000u);
    EXPECT_FALSE(f.progress.pickPartRange(&s, &e));
}

// Random pick, receive, return and reset: free ranges, ranges taken by
// sources and present bytes stay disjoint and cover the file.
TEST(DLProgress, RandomRunsKeepFreeTakenAndPresentApart) {
    constexpr uint64_t kSize = kPart + 3 * kCrumb + 1234;
    for (uint32_t seed = 1; seed <= 12; seed++) {
        std::mt19937 random(seed);
        Fixture f(kSize, {{0, kSize}});
        srand(seed);
        f.progress.init(&f.view);
        std::vector<Gap> taken;
        for (int step = 0; step < 400; step++) {
            uint64_t s = 0, e = 0;
            switch (random() % 6) {
                case 0:
                case 1: {
                    uint64_t max = std::vector<uint64_t>{0, 184320, 5000, 77}[random() % 4];
                    if (f.progress.pickRange(f.all(), &s, &e, max)) taken.push_back({s, e});
                    break;
                }
                case 2:
                    if (f.progress.pickPartRange(&s, &e)) taken.push_back({s, e});
                    break;
                case 3:
                case 4:
                    if (!taken.empty()) {
                        // A source receives a piece of its range, then ends.
                        size_t i = random() % taken.size();
                        Gap range = taken[i];
                        taken.erase(taken.begin() + static_cast<long>(i));
                        uint64_t cut = range.start + random() % (range.length() + 1);
                        f.gaps.fill(range.start, cut);
                        if (random() % 2) {
                            f.progress.returnRange(range.start, range.end);
                        } else {
                            f.gaps.fill(cut, range.end);
                        }
                    }
                    break;
                default: {
                    // A crumb found complete fails or passes its check.
                    uint32_t crumb = random() % f.progress.crumbCount();
                    uint64_t c = crumb * kCrumb, d = std::min(c + kCrumb, kSize);
                    if (f.gaps.overlaps(c, d) || f.progress.weight(crumb) == -1) break;
                    if (random() % 2) {
                        f.gaps.addGap(c, d);
                        f.progress.resetCrumb(crumb);
                    } else {
                        f.progress.gotCrumb(crumb);
                    }
                }
            }
            // Free and taken together are exactly the gaps, without overlap.
            std::vector<Gap> pieces = taken;
            for (uint32_t i = 0; i < f.progress.crumbCount(); i++) {
                const CrumbEntry& entry = f.progress.entry(i);
                uint64_t sum = 0;
                for (size_t k = 0; k < entry.ranges.size(); k++) {
                    const Gap& r = entry.ranges[k];
                    ASSERT_LT(r.start, r.end);
                    ASSERT_TRUE(k == 0 || entry.ranges[k - 1].end <= r.start) << "crumb " << i << " unsorted";
                    sum += r.length();
                    pieces.push_back(r);
                }
                ASSERT_EQ(sum, entry.freeBytes);
            }
            std::sort(pieces.begin(), pieces.end(), [](const Gap& a, const Gap& b) { return a.start < b.start; });
            GapList joined;
            uint64_t total = 0;
            for (size_t k = 0; k < pieces.size(); k++) {
                ASSERT_TRUE(k == 0 || pieces[k - 1].end <= pieces[k].start) << "seed " << seed << " step " << step;
                joined.addGap(pieces[k].start, pieces[k].end);
                total += pieces[k].length();
            }
            ASSERT_EQ(joined.gaps(), f.gaps.gaps()) << "seed " << seed << " step " << step;
            ASSERT_EQ(total, f.gaps.missingBytes());
        }
    }
}

TEST(DLProgress, DumpShowsWeightsAndRangesInBothOrders) {
    support::CaptureUI output;
    Fixture f(kCrumb + 10, {{0, 10}, {kCrumb, kCrumb + 10}});
    f.progress.gotCrumb(0);
    f.progress.dump();
    EXPECT_EQ(output.takeText(),
              "Progress Array:\n0) -1\n1) 0 (486400-486410)\n"
              "Preferred Array:\n0) 1 : 0 (486400-486410)\n1) 0 : -1\n");
}

}  // namespace
