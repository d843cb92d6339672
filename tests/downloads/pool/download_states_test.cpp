// The download states: every row of the state table (state x event ->
// next state, code, bus posts, speed), the speed window, the hash-set
// timer and the small-target rule.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/bus/message_codes.h"
#include "downloads/pool/download_states.h"
#include "downloads/pool/downloading_state.h"
#include "support/download_world.h"
#include "support/part_digests.h"

namespace {

using namespace support;

enum class Start { kQueued, kDownloading, kHighest, kPaused, kDiskFull, kDone, kHashing, kPausedHashing, kErrorLoading };

DownloadState* make(Start start, Download* d) {
    switch (start) {
        case Start::kQueued: return new DLS_Queued(d);
        case Start::kDownloading: return new DLS_Downloading(d);
        case Start::kHighest: return new DLS_Highest(d);
        case Start::kPaused: return new DLS_Paused(d);
        case Start::kDiskFull: return new DLS_DiskFull(d);
        case Start::kDone: return new DLS_Done(d, kDlsDone);
        case Start::kHashing: return new DLS_Hashing(d);
        case Start::kPausedHashing: return new DLS_PausedHashing(d);
        case Start::kErrorLoading: return new DLS_ErrorLoading(d);
    }
    return nullptr;
}

struct Row {
    Start start;
    std::string event;
    int code;                // code afterwards
    std::vector<int> posts;  // bus codes posted, in order
    bool speedZero;          // the speed was set to 0
    bool accepted = false;   // becomeHighest's answer
};

class DownloadStatesTest : public ::testing::Test {
protected:
    void SetUp() override { world.route = false; }

    Download* download(Start start) {
        // Data of its own: a second start of the same file is refused.
        Download* d = world.start(pattern_bytes(1000, ++seed_), "s.bin");
        d->lock(0);
        d->setState(make(start, d));
        d->unlock();
        world.pumpBus();
        world.takeCodes();
        d->setSpeed(5.0);
        return d;
    }

    bool apply(Download* d, const std::string& event) {
        bool answer = false;
        if (event == "tick") {
            d->tick(0);
        } else if (event == "pause") {
            d->pause();
        } else if (event == "resume") {
            d->lock(0);
            d->state()->resume();
            d->unlock();
        } else if (event == "cancel") {
            d->cancel();
        } else if (event == "diskFull") {
            d->diskFull();
        } else if (event == "diskOk") {
            d->diskOk();
        } else if (event == "hashDone" || event == "hashFailed") {
            // Applied at the next tick; a closed gate keeps a queued
            // download queued through it.
            world.pool->holdGate();
            d->hashDone(event == "hashDone");
            d->tick(0);
        } else if (event == "becomeHighest") {
            answer = d->becomeHighest();
        }
        world.pumpBus();
        return answer;
    }

    DownloadWorld world;
    uint32_t seed_ = 100;
};

TEST_F(DownloadStatesTest, EveryRowOfTheStateTable) {
    const int end = MSG_END_DOWNLOAD, disk = MSG_CHECK_DISK_SPACE, again = MSG_RESCHEDULE;
    const std::vector<Row> rows = {
        {Start::kQueued, "tick", kDlsLooking, {}, false},
        {Start::kQueued, "pause", kDlsPaused, {}, true},
        {Start::kQueued, "diskFull", kDlsDiskFull, {}, true},
        {Start::kQueued, "resume", kDlsQueued, {}, false},
        {Start::kQueued, "diskOk", kDlsQueued, {}, false},
        {Start::kQueued, "cancel", kDlsDone, {end}, true},
        {Start::kQueued, "becomeHighest", kDlsLooking, {}, false, true},
        {Start::kDownloading, "pause", kDlsPaused, {disk}, true},
        {Start::kDownloading, "diskFull", kDlsDiskFull, {}, true},
        {Start::kDownloading, "diskOk", kDlsLooking, {}, false},
        {Start::kDownloading, "cancel", kDlsDone, {end}, true},
        {Start::kDownloading, "becomeHighest", kDlsLooking, {}, false, true},
        {Start::kHighest, "pause", kDlsPaused, {again, disk}, true},
        {Start::kHighest, "diskFull", kDlsDiskFull, {again}, true},
        {Start::kHighest, "cancel", kDlsDone, {end, again}, true},
        {Start::kHighest, "becomeHighest", kDlsLooking, {}, false, true},
        {Start::kPaused, "resume", kDlsQueued, {disk}, false},
        {Start::kPaused, "pause", kDlsPaused, {}, false},
        {Start::kPaused, "diskFull", kDlsPaused, {}, false},
        {Start::kPaused, "tick", kDlsPaused, {}, false},
        {Start::kPaused, "cancel", kDlsDone, {end}, true},
        {Start::kPaused, "becomeHighest", kDlsPaused, {}, false, false},
        {Start::kDiskFull, "pause", kDlsPaused, {}, true},
        {Start::kDiskFull, "diskOk", kDlsQueued, {}, false},
        {Start::kDiskFull, "resume", kDlsDiskFull, {}, false},
        {Start::kDiskFull, "cancel", kDlsDone, {end}, true},
        {Start::kDiskFull, "becomeHighest", kDlsDiskFull, {}, false, false},
        {Start::kDone, "cancel", kDlsDone, {}, false},
        {Start::kDone, "pause", kDlsDone, {}, false},
        {Start::kDone, "resume", kDlsDone, {}, false},
        {Start::kDone, "becomeHighest", kDlsDone, {}, false, false},
        {Start::kHashing, "cancel", kDlsHashing, {}, false},
        {Start::kHashing, "pause", kDlsHashing, {}, false},
        {Start::kHashing, "hashDone", kDlsQueued, {disk}, false},
        {Start::kHashing, "hashFailed", kDlsErrorHashing, {end}, true},
        {Start::kHashing, "becomeHighest", kDlsHashing, {}, false, false},
        {Start::kPausedHashing, "cancel", kDlsHashing, {}, false},
        {Start::kPausedHashing, "hashDone", kDlsPaused, {}, true},
        {Start::kPausedHashing, "hashFailed", kDlsErrorHashing, {end}, true},
        {Start::kPausedHashing, "becomeHighest", kDlsHashing, {}, false, false},
        {Start::kErrorLoading, "pause", kDlsErrorLoading, {}, false},
        {Start::kErrorLoading, "cancel", kDlsDone, {end}, true},
        {Start::kErrorLoading, "becomeHighest", kDlsErrorLoading, {}, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(static_cast<int>(row.start)) + " " + row.event);
        Download* d = download(row.start);
        bool answer = apply(d, row.event);
        EXPECT_EQ(d->statusCode(), row.code);
        EXPECT_EQ(world.takeCodes(), row.posts);
        // States that stop the download set the speed to 0 on entry.
        if (row.speedZero) {
            EXPECT_EQ(d->speed(), 0.0);
        }
        if (row.event == "becomeHighest") {
            EXPECT_EQ(answer, row.accepted);
        }
        world.drop(d);
    }
}

// Data that cannot be read again ends the download: what it shared goes
// from the shares, so that starting the file again is not refused as had.
TEST_F(DownloadStatesTest, TheErrorHashingEndStopsSharing) {
    for (Start start : {Start::kHashing, Start::kPausedHashing}) {
        SCOPED_TRACE(static_cast<int>(start));
        Download* d = download(start);
        d->partialFile()->share();
        ASSERT_TRUE(world.shared.contains(d->fileHash()));
        apply(d, "hashFailed");
        EXPECT_EQ(d->statusCode(), kDlsErrorHashing);
        EXPECT_FALSE(world.shared.contains(d->fileHash()));
        world.drop(d);
    }
}

TEST_F(DownloadStatesTest, HighestHoldsPriorityThreeAndLeavingItGivesTwo) {
    Download* d = download(Start::kQueued);
    d->setPriority(Download::kLow);
    EXPECT_TRUE(d->becomeHighest());
    EXPECT_EQ(d->priority(), Download::kHighest);
    EXPECT_NE(dynamic_cast<DLS_Highest*>(d->state()), nullptr);
    d->pause();
    EXPECT_EQ(d->priority(), Download::kHigh);
    world.pumpBus();
    EXPECT_EQ(world.takeCodes(), (std::vector<int>{MSG_RESCHEDULE, MSG_CHECK_DISK_SPACE}));
}

TEST_F(DownloadStatesTest, CancelWhileHashingIsRefusedWithItsText) {
    Download* d = download(Start::kHashing);
    world.log.take();
    d->cancel();
    EXPECT_EQ(world.ui.printed().back(), "Can't cancel while hashing.");
    EXPECT_EQ(world.log.count("added s.bin"), 1);
}

TEST_F(DownloadStatesTest, QueuedStartsOnlyWhileTheGateIsOpen) {
    Download* d = download(Start::kQueued);
    world.pool->holdGate();
    d->tick(0);
    EXPECT_EQ(d->statusCode(), kDlsQueued);
    world.pool->tick(499);
    d->tick(0);
    EXPECT_EQ(d->statusCode(), kDlsQueued);
    world.pool->tick(1);
    d->tick(0);
    EXPECT_EQ(d->statusCode(), kDlsLooking);
}

// --- the downloading tick -------------------------------------------------------------

class DownloadingTickTest : public DownloadStatesTest {
protected:
    // A downloading download of size bytes with one fake source.
    Download* downloading(uint64_t size, bool hashSets = true) {
        Bytes data = pattern_bytes(size, ++seed_);
        Download* d = world.start(data, "t.bin", hashSets);
        source = new FakeFileSource(&world.log, "src", d, &world.peer);
        d->lock(0);
        d->sources()->append(source);
        d->setState(new DLS_Downloading(d));
        d->unlock();
        world.log.take();
        return d;
    }

    // Bytes of a data message into the first crumb's range.
    void receive(Download* d, uint32_t bytes) {
        source->request(0, 0, d->size());
        ASSERT_TRUE(world.message(d, received_, received_ + bytes, Bytes(bytes, 0x5a)));
        received_ += bytes;
    }

    FakeFileSource* source = nullptr;
    uint32_t received_ = 0;
};

TEST_F(DownloadingTickTest, SpeedWindowAndSamples) {
    Download* d = downloading(4 * 486400);
    d->setSpeed(0.0);
    receive(d, 16008);
    d->tick(1999);
    EXPECT_EQ(d->speed(), 0.0) << "no sample within 2,000 ms";
    d->tick(1);
    EXPECT_EQ(d->speed(), 0.0) << "exactly 2,000 ms takes no sample";
    d->tick(1);  // window 2,001 ms: 16,008 bytes
    EXPECT_DOUBLE_EQ(d->speed(), 8.0) << "the first sample fills every empty slot";
    d->tick(2001);
    EXPECT_DOUBLE_EQ(d->speed(), 7.0) << "an empty window lowers the mean by one eighth";
}

TEST_F(DownloadingTickTest, CorruptDataNeverMakesTheSpeedNegative) {
    Download* d = downloading(4 * 486400);
    // One whole crumb of wrong bytes: its check takes 486,400 bytes back.
    receive(d, 486400);
    d->tick(2001);
    double before = d->speed();
    EXPECT_GT(before, 0.0);
    world.worker->runPending();
    d->tick(2001);
    const double* samples = dynamic_cast<DLS_Downloading*>(d->state())->samples();
    for (int i = 0; i < DLS_Downloading::kSampleCount; i++) EXPECT_GE(samples[i], 0.0);
    EXPECT_GE(d->speed(), 0.0);
    EXPECT_LT(d->speed(), before);
}

TEST_F(DownloadingTickTest, HashSetTimer) {
    // Two crumbs and no crumb hashes: the set is incomplete.
    Download* d = downloading(486401, false);
    d->tick(1);
    EXPECT_EQ(world.log.count("src requestHashSet"), 1) << "asked on the first tick";
    d->tick(9999);
    EXPECT_EQ(world.log.count("src requestHashSet"), 1);
    d->tick(2);
    EXPECT_EQ(world.log.count("src requestHashSet"), 2) << "retried 10,000 ms later";
    source->hashSetAnswer = true;
    d->tick(10001);
    EXPECT_EQ(world.log.count("src requestHashSet"), 3);
    d->tick(60000);
    EXPECT_EQ(world.log.count("src requestHashSet"), 3) << "once a minute after a request went out";
    d->tick(1);
    EXPECT_EQ(world.log.count("src requestHashSet"), 4);
}

TEST_F(DownloadingTickTest, CompleteHashSetIsNotAskedFor) {
    Download* d = downloading(486401, true);
    d->tick(70000);
    EXPECT_EQ(world.log.count("src requestHashSet"), 0);
}

TEST_F(DownloadingTickTest, SmallTargetsAtSpeedAskNoNewSources) {
    struct Case {
        uint64_t size;
        double speed;
        bool asks;
    };
    for (const Case& c : {Case{737280, 1.0, false}, Case{737281, 1.0, true}, Case{737280, 0.99, true}}) {
        SCOPED_TRACE(std::to_string(c.size) + " at " + std::to_string(c.speed));
        Download* d = downloading(c.size);
        d->setSpeed(c.speed);
        d->tick(1);
        EXPECT_EQ(world.log.count("src tryAsk"), c.asks ? 1 : 0);
        world.drop(d);
        world.log.take();
    }
}

TEST_F(DownloadingTickTest, SourcesAreAskedInOrderThenTheOverlay) {
    Download* d = downloading(3 * 486400);
    auto* second = new FakeFileSource(&world.log, "second", d, nullptr);
    d->lock(0);
    d->sources()->append(second);
    d->unlock();
    d->tick(1);
    EXPECT_EQ(world.log.starting("src tryAsk").size(), 1u);
    EXPECT_EQ(world.log.count("second tryAsk"), 1);
    EXPECT_EQ(world.log.count("search"), 1) << "no source started work";
    world.log.take();
    source->askAnswer = true;
    d->tick(1);
    EXPECT_EQ(world.log.count("src tryAsk"), 1);
    EXPECT_EQ(world.log.count("second tryAsk"), 0);
    EXPECT_EQ(world.log.count("search"), 0);
    world.log.take();
    world.pool->holdGate();
    d->tick(1);
    EXPECT_EQ(world.log.count("src tryAsk"), 0) << "the gate is closed";
}

TEST_F(DownloadingTickTest, NothingMissingCompletesTheDownload) {
    Bytes data = pattern_bytes(486401, 9);
    Download* d = world.start(data, "whole.bin");
    world.feeder(d);
    world.step(0);
    ASSERT_EQ(d->statusCode(), kDlsLooking);
    ASSERT_TRUE(world.feed(d, data, 0, data.size()));
    // The last write leaves a check pending: the tick after its result
    // completes the download.
    EXPECT_EQ(d->statusCode(), kDlsLooking);
    world.settle();
    world.completions();
    EXPECT_EQ(d->statusCode(), kDlsComplete);
}

TEST_F(DownloadStatesTest, HighestSeeksOnePartnerPerTick) {
    struct Case {
        std::vector<double> scores;
        int tried;  // index of the source tried, -1 for none
    };
    for (const Case& c : {Case{{100.0, 100.0}, 0}, Case{{50.0, 80.0}, 1}, Case{{-1.0, 0.0}, -1}}) {
        Download* d = download(Start::kQueued);
        std::vector<FakeFileSource*> sources;
        d->lock(0);
        for (size_t i = 0; i < c.scores.size(); i++) {
            auto* source = new FakeFileSource(&world.log, "p" + std::to_string(i), d, nullptr);
            source->score = c.scores[i];
            d->sources()->append(source);
        }
        d->setState(new DLS_Highest(d));
        d->unlock();
        world.log.take();
        d->tick(0);
        std::vector<std::string> tried = world.log.starting("p");
        std::vector<std::string> expected;
        if (c.tried >= 0) expected.push_back("p" + std::to_string(c.tried) + " tryPartner");
        std::vector<std::string> partnerLines;
        for (const std::string& line : tried) {
            if (line.find("tryPartner") != std::string::npos) partnerLines.push_back(line);
        }
        EXPECT_EQ(partnerLines, expected);
        world.drop(d);
    }
}

}  // namespace
