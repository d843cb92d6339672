// The download pool: the bandwidth gate, the disk checks, the periodic
// save, scheduling by priority, starting and ending downloads, and the
// peer events it hands to the downloads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/bus/message_codes.h"
#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "downloads/pool/download_states.h"
#include "downloads/pool/downloading_state.h"
#include "support/download_world.h"
#include "support/files.h"
#include "support/part_digests.h"

namespace {

using namespace support;

class DLPoolTest : public ::testing::Test {
protected:
    Download* download(const char* name) { return world.start(pattern_bytes(1000, ++seed_), name); }

    void setState(Download* d, DownloadState* state) {
        d->lock(0);
        d->setState(state);
        d->unlock();
    }

    DownloadWorld world;
    uint32_t seed_ = 0;
};

TEST_F(DLPoolTest, Gate) {
    struct Case {
        const char* what;
        double limit, lineDown, rate;
        int transferring;
        bool open;
    };
    // In this order: the peak rate only grows.
    const Case cases[] = {
        {"nothing known, none transferring", 0, 0, 0, 0, true},
        {"nothing known, two transferring", 0, 0, 0, 2, false},
        {"no limit, line 50, rate 46, three", 0, 50, 46, 3, false},
        {"no limit, line 50, rate 45, three", 0, 50, 45, 3, true},
        {"limit 100, rate 95, two transferring", 100, 0, 95, 2, false},
        {"limit 100, rate 95, one transferring", 100, 0, 95, 1, true},
        {"limit 100, rate 90, two transferring", 100, 0, 90, 2, true},
        {"no limit, line 50, peak 95, rate 86", 0, 50, 86, 2, false},
    };
    Download* d = download("rate.bin");
    // A finished download keeps the speed it is given.
    setState(d, new DLS_Done(d, kDlsComplete));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        coreOptions()->setDownloadLimit(c.limit);
        coreOptions()->setLineSpeedDown(c.lineDown);
        world.pool->changeTransferring(c.transferring - world.pool->transferring());
        d->setSpeed(c.rate);
        world.pool->tick(0);  // the rate of this tick gates the next one
        world.pool->tick(0);
        EXPECT_EQ(world.pool->gateOpen(), c.open);
    }
    EXPECT_DOUBLE_EQ(world.pool->peakRate(), 95.0);
    EXPECT_DOUBLE_EQ(world.pool->currentRate(), 86.0);
}

TEST_F(DLPoolTest, HeldGateOpensAfter500Ms) {
    world.pool->holdGate();
    EXPECT_FALSE(world.pool->gateOpen());
    world.pool->tick(300);
    world.pool->tick(199);
    EXPECT_FALSE(world.pool->gateOpen());
    world.pool->tick(1);
    EXPECT_TRUE(world.pool->gateOpen());
}

TEST_F(DLPoolTest, DiskChecks) {
    EXPECT_EQ(world.pool->diskCountdown(), 0);
    world.step(0);
    EXPECT_EQ(world.pool->diskCountdown(), DLPool::kDiskCheckMs) << "the first tick checks at once";
    world.settings.setReserve(1000);
    world.settings.setFree(world.temp, 1000);
    Download* d = download("disk.bin");
    EXPECT_EQ(d->statusCode(), kDlsDiskFull) << "a new download checks at once";
    world.settings.setFree(world.temp, 1001);
    world.settings.setFree(world.incoming, 999);
    world.step(59999);
    world.step(0);
    EXPECT_EQ(d->statusCode(), kDlsDiskFull);
    EXPECT_EQ(world.pool->diskCountdown(), 1);
    world.step(1);
    EXPECT_EQ(d->statusCode(), kDlsDiskFull) << "the incoming file system is the smaller";
    world.settings.setFree(world.incoming, 0, false);
    world.step(60000);
    EXPECT_NE(d->statusCode(), kDlsDiskFull) << "a file system that cannot be asked counts as roomy";
    // Every pause, resume and new download asks again.
    world.settings.setFree(world.incoming, 5);
    d->pause();
    world.step(0);
    d->resume();
    world.step(0);
    EXPECT_EQ(d->statusCode(), kDlsDiskFull);
}

TEST_F(DLPoolTest, PeriodicSaveTakesEachDownloadsLockAndWritesTheRecord) {
    coreOptions()->setPartStyle(true);
    Bytes data = pattern_bytes(3 * 486400, 4);
    Download* d = world.start(data, "saved.bin");
    world.feeder(d);
    world.step(0);
    std::string record = world.temp + "/1.part.met";
    Bytes before = read_bytes(record);
    ASSERT_FALSE(before.empty());
    world.feed(d, data, 0, 100000);
    world.ui.clear();
    world.ui.setVerbose(true);
    world.step(299999);
    EXPECT_EQ(read_bytes(record), before);
    world.step(1);
    EXPECT_NE(world.ui.debugged().find("Saving downloads.\n"), std::string::npos);
    EXPECT_NE(read_bytes(record), before);
    EXPECT_EQ(world.pool->saveCountdown(), DLPool::kSaveMs);
}

TEST_F(DLPoolTest, StartTexts) {
    Bytes data = pattern_bytes(1000, 77);
    std::unique_ptr<FileMeta> record = world.record(data, "twice.bin");
    world.pool->startDownload(record.get());
    EXPECT_EQ(world.ui.printed().back(), "Downloading: twice.bin");
    EXPECT_EQ(world.ui.logged().back(), "Start Download: twice.bin");
    world.pool->startDownload(record.get());
    EXPECT_EQ(world.ui.printed().back(), "You are already downloading twice.bin.");
    std::unique_ptr<FileMeta> have = world.record(pattern_bytes(1000, 78), "have.bin");
    world.shared.addHash(have->fileHash());
    world.pool->startDownload(have.get());
    EXPECT_EQ(world.ui.printed().back(), "You already have have.bin.");
    EXPECT_EQ(world.pool->downloadCount(), 1);
}

TEST_F(DLPoolTest, SchedulingByPriority) {
    Download* a = download("a.bin");
    Download* b = download("b.bin");
    Download* c = download("c.bin");
    EXPECT_EQ(world.partners->highest(), a) << "the first download is Highest";
    EXPECT_EQ(a->priority(), Download::kHighest);

    // c to Highest: a leaves it (priority 2, downloading) and asks for a
    // reschedule, which keeps c.
    world.pool->setPriority(c, Download::kHighest);
    EXPECT_EQ(world.partners->highest(), c);
    EXPECT_NE(dynamic_cast<DLS_Highest*>(c->state()), nullptr);
    EXPECT_NE(dynamic_cast<DLS_Downloading*>(a->state()), nullptr);
    EXPECT_EQ(dynamic_cast<DLS_Highest*>(a->state()), nullptr);
    EXPECT_EQ(a->priority(), Download::kHigh);
    world.pumpBus();
    EXPECT_EQ(world.partners->highest(), c);

    // A paused download set to Highest stays paused at priority 2.
    b->pause();
    world.pool->setPriority(b, Download::kHighest);
    EXPECT_EQ(b->statusCode(), kDlsPaused);
    EXPECT_EQ(b->priority(), Download::kHigh);
    EXPECT_EQ(world.partners->highest(), c) << "the Highest download stays";

    // Nothing can be Highest: the partner table follows nobody.
    a->pause();
    c->pause();
    world.pool->reschedule();
    EXPECT_EQ(world.partners->highest(), nullptr);

    // Out-of-range priorities are clamped; null is ignored.
    world.pool->setPriority(a, 9);
    EXPECT_EQ(a->priority(), Download::kHighest);
    world.pool->setPriority(nullptr, 1);
}

TEST_F(DLPoolTest, LoweringTheHighestDownloadKeepsTheChosenPriority) {
    Download* a = download("a.bin");
    Download* b = download("b.bin");
    world.pool->setPriority(a, Download::kLow);
    EXPECT_EQ(a->priority(), Download::kLow);
    EXPECT_EQ(world.partners->highest(), b);
    world.pumpBus();
    EXPECT_EQ(a->priority(), Download::kLow);
    EXPECT_EQ(world.partners->highest(), b);
}

TEST_F(DLPoolTest, EndingADownload) {
    Download* d = download("end.bin");
    Download* other = download("stay.bin");
    world.log.take();
    world.takeCodes();
    world.route = false;
    world.pool->endDownload(d);
    world.pumpBus();
    EXPECT_EQ(world.pool->downloadCount(), 1);
    EXPECT_EQ(world.log.take(), (std::vector<std::string>{"pauseFile 0", "removed end.bin"}));
    EXPECT_EQ(world.takeCodes(), (std::vector<int>{MSG_CHECK_DISK_SPACE}));
    EXPECT_EQ(world.partners->highest(), other);
    EXPECT_EQ(world.ui.logged().back(), "End Download: end.bin");
    // Not listed any more: a second end does nothing.
    world.pool->endDownload(d);
    EXPECT_TRUE(world.log.take().empty());
}

TEST_F(DLPoolTest, CancelEndsTheDownloadThroughTheBus) {
    coreOptions()->setPartStyle(true);
    Download* d = download("gone.bin");
    ASSERT_TRUE(file_exists(world.temp + "/1.part"));
    d->cancel();
    world.pumpBus();
    EXPECT_EQ(world.pool->downloadCount(), 0);
    EXPECT_FALSE(file_exists(world.temp + "/1.part"));
    EXPECT_FALSE(file_exists(world.temp + "/1.part.met"));
}

TEST_F(DLPoolTest, TransferHubDrivesThePoolThroughItsInterface) {
    // Reached through the interface as the hub does, not devirtualized.
    TransferDownloads* volatile hub = world.pool;
    TransferDownloads* side = hub;
    EXPECT_EQ(side->peerEventHandler(), static_cast<PeerEventHandler*>(world.pool));
    EXPECT_EQ(side->task(), static_cast<TimeSliceTask*>(world.pool));
    Download* d = download("hub.bin");
    // Each of codes 12 to 14 comes with a reference of the poster's.
    d->addRef();
    side->pauseDownload(d);
    side->releaseDownload(d);
    EXPECT_TRUE(d->isPaused());
    d->addRef();
    side->resumeDownload(d);
    side->releaseDownload(d);
    EXPECT_FALSE(d->isPaused());

    side->setFilePriority(d->fileHash(), 2);
    int32_t priority = -1;
    d->partialFile()->withMeta([&](FileMeta& record) { priority = record.getSpecialInt(ST_UPLOAD_PRIORITY); });
    EXPECT_EQ(priority, 2);
    side->setFilePriority(UniqueID(), 1);  // no such download: nothing

    d->addRef();
    side->cancelDownload(d);
    side->releaseDownload(d);
    world.pumpBus();
    EXPECT_EQ(world.pool->downloadCount(), 0);
}

TEST_F(DLPoolTest, PeerEventsReachEveryDownload) {
    Download* a = download("a.bin");
    Download* b = download("b.bin");
    auto* sa = new FakeFileSource(&world.log, "sa", a, &world.peer);
    auto* sb = new FakeFileSource(&world.log, "sb", b, nullptr);
    for (auto [d, s] : {std::pair<Download*, FakeFileSource*>{a, sa}, {b, sb}}) {
        d->lock(0);
        d->sources()->append(s);
        d->unlock();
    }
    world.step(0);  // both downloading
    world.log.take();
    TCPConnection* connection = world.peer.connection;
    world.pool->newPeer(connection);
    world.pool->placeInQueue(connection, 4);
    world.pool->connectFailed(0x04030201, 4662);
    world.pool->uploadEnded(connection);
    world.pool->peerClosed(connection);
    world.pool->newPeer(reinterpret_cast<TCPConnection*>(&world));  // not a peer: nobody hears of it
    std::vector<std::string> expected = {
        "sa newPeer peer", "sb newPeer peer", "sa placeInQueue 4 peer", "sb placeInQueue 4 peer",
        "sa connectFailed 1.2.3.4:4662", "sb connectFailed 1.2.3.4:4662",
        "sa uploadEnded peer",  // the first that accepts ends the walk
        "sa peerClosed peer", "sb peerClosed peer",
    };
    std::vector<std::string> log = world.log.take();
    EXPECT_EQ(log, expected);
}

TEST_F(DLPoolTest, OpenSlots) {
    Download* d = download("slot.bin");
    auto* s = new FakeFileSource(&world.log, "s", d, &world.peer);
    d->lock(0);
    d->sources()->append(s);
    d->unlock();
    world.log.take();
    world.pool->openSlot(world.peer.connection);
    EXPECT_EQ(world.log.take(), (std::vector<std::string>{"s openSlot peer", "peer release DLPool::openSlot"}));

    FakeSourcePeer other(&world.log, "other", 0x05050505, 4662);
    world.peers.add(&other);
    world.pool->openSlot(other.connection);
    EXPECT_EQ(world.log.take(), (std::vector<std::string>{"s openSlot other", "other slotRelease",
                                                           "other release DLPool::openSlot 2"}));
    world.peers.peers.pop_back();
    world.pool->openSlot(other.connection);
    EXPECT_TRUE(world.log.take().empty()) << "a connection the pool does not hold";
}

TEST_F(DLPoolTest, SourcesByHash) {
    Download* d = download("src.bin");
    world.log.take();
    UserMeta user;
    user.setIp(0x07070707);
    user.setPort(1234);
    world.pool->addSource(d->fileHash(), &user);
    world.pool->addSource(UniqueID(), &user);
    world.pool->addSource(d->fileHash(), &user, world.peer.connection);
    world.pool->addSourceLink(d->fileHash(), "bcp://6.6.6.6:66");
    world.pool->addSourceLink(UniqueID(), "bcp://6.6.6.6:67");
    EXPECT_EQ(world.log.take(),
              (std::vector<std::string>{"made 7.7.7.7:1234", "7.7.7.7:1234 resetRetries", "made 6.6.6.6:66"}));
    EXPECT_EQ(d->refCount(), 2) << "the pool's and the world's";
}

TEST_F(DLPoolTest, TickReportsWorkWhileDataArrives) {
    Bytes data = pattern_bytes(2 * 486400, 12);
    Download* d = world.start(data, "busy.bin");
    world.feeder(d);
    world.step(0);
    EXPECT_FALSE(world.step(10));
    world.feed(d, data, 0, 1000);
    EXPECT_TRUE(world.step(10)) << "data arrived";
    EXPECT_FALSE(world.step(10));
    world.feed(d, data, 0, 486400);
    EXPECT_TRUE(world.pool->tick(10));
    world.worker->runPending();
    EXPECT_TRUE(world.pool->tick(10)) << "a check's result was applied";
    EXPECT_FALSE(world.pool->tick(10));
}

TEST_F(DLPoolTest, ShutdownSavesAndReleasesEveryDownload) {
    coreOptions()->setPartStyle(true);
    Bytes data = pattern_bytes(2 * 486400, 13);
    Download* d = world.start(data, "kept.bin");
    world.feeder(d);
    world.step(0);
    world.feed(d, data, 0, 486400);
    std::string record = world.temp + "/1.part.met";
    Bytes before = read_bytes(record);
    world.log.take();
    world.pool->shutdown();
    EXPECT_EQ(world.pool->downloadCount(), 0);
    EXPECT_NE(read_bytes(record), before);
    EXPECT_EQ(world.log.take(), (std::vector<std::string>{"feeder shutdown", "feeder deleted"}));
    EXPECT_EQ(world.partners->highest(), nullptr);
}

}  // namespace
