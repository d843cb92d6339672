// The end of a download on real files: complete in both layouts, a part
// changed after its check or damaged on disk is fetched again alone, a
// wrong file without its hash set waits for it, data that cannot be verified again ends the download with its
// files kept, and every verdict of the final check leads to its state.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/bus/message_codes.h"
#include "core/options/core_options.h"
#include "downloads/loaded_parts_verifier.h"
#include "downloads/pool/complete_file_thread.h"
#include "downloads/pool/download_states.h"
#include "downloads/pool/downloading_state.h"
#include "downloads/sources/file_source_state.h"
#include "downloads/sources/peer_sources.h"
#include "support/download_world.h"
#include "support/files.h"
#include "support/memory_files.h"
#include "support/part_digests.h"
#include "support/scripted_uploader.h"

namespace {

using namespace support;
namespace fs = std::filesystem;

constexpr uint64_t kPart = 9728000;

class CompletionTest : public ::testing::Test {
protected:
    // Feeds [from, to) and lets checks and completions run to their end.
    void deliver(Download* d, const Bytes& data, uint64_t from, uint64_t to) {
        world.feed(d, data, from, to);
        world.settle();
        world.completions();
        world.step(0);
    }

    Download* fetching(const Bytes& data, const char* name, bool hashSets = true) {
        Download* d = world.start(data, name, hashSets);
        world.feeder(d);
        world.step(0);
        return d;
    }

    // Peer sources as the program makes them, connecting to the listed
    // connection of their user.
    void realSources() {
        fakeSources_ = peerSourceFactory();
        setPeerSourceFactory(&factory_);
        world.peers.connectByUser = true;
    }
    // A connection face of another user, listed in the pool; an uploader
    // that does not partner.
    FakeSourcePeer& otherPeer(const std::string& name, uint32_t ip) {
        peers_.push_back(std::make_unique<FakeSourcePeer>(&world.log, name, ip, 4662));
        FakeSourcePeer& peer = *peers_.back();
        peer.pr = 0;
        world.peers.add(&peer);
        return peer;
    }
    // The task thread's rounds with the uploaders answering, as long as the
    // download is not complete (at most rounds of 501 ms).
    void run(Download* d, const std::vector<ScriptedUploader*>& uploaders, int rounds) {
        for (int i = 0; i < rounds && d->statusCode() != kDlsComplete; i++) {
            world.step(DLPool::kGateMs + 1);
            for (ScriptedUploader* uploader : uploaders) uploader->serve(d);
            world.settle();
            world.completions();
            world.step(0);
        }
    }
    void TearDown() override {
        if (fakeSources_ != nullptr) setPeerSourceFactory(fakeSources_);
    }

    // Made before the world and gone after it: the world's downloads hold
    // sources that use these connections.
    std::vector<std::unique_ptr<FakeSourcePeer>> peers_;
    DownloadWorld world;

private:
    FileSourceFactory factory_;
    PeerSourceFactory* fakeSources_ = nullptr;
};

TEST_F(CompletionTest, EveryVerdictLeadsToItsState) {
    struct Case {
        CompleteResult result;
        int code;
        std::vector<int> posts;
        bool uploadsResume;
    };
    const Case cases[] = {
        {CompleteResult::kComplete, kDlsComplete, {MSG_END_DOWNLOAD}, false},
        {CompleteResult::kCorrupted, kDlsCorrupted, {MSG_END_DOWNLOAD}, false},
        {CompleteResult::kRefetch, kDlsQueued, {}, true},
        {CompleteResult::kAssemblyFailed, kDlsPaused, {}, true},
    };
    world.route = false;
    uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Download* d = world.start(pattern_bytes(1000, seed++), "v.bin");
        d->lock(0);
        d->setState(new DLS_Done(d, kDlsCompleting));
        d->unlock();
        world.pumpBus();
        world.takeCodes();
        d->lock(0);
        CompleteFileThread::settle(d, c.result);
        d->unlock();
        world.pumpBus();
        EXPECT_EQ(d->statusCode(), c.code);
        EXPECT_EQ(world.takeCodes(), c.posts);
        world.log.take();
        world.pool->holdGate();
        d->tick(0);
        EXPECT_EQ(world.log.count("pauseFile 0"), c.uploadsResume ? 1 : 0);
    }
}

TEST_F(CompletionTest, BothLayoutsCompleteByteExact) {
    for (bool single : {true, false}) {
        SCOPED_TRACE(single ? "single file" : "part directory");
        coreOptions()->setPartStyle(single);
        Bytes data = pattern_bytes(kPart + 486401, single ? 1 : 2);
        const char* name = single ? "s.bin" : "p.bin";
        Download* d = fetching(data, name);
        world.log.take();
        deliver(d, data, 0, data.size());
        EXPECT_EQ(d->statusCode(), kDlsComplete);
        EXPECT_EQ(read_bytes(world.incoming + "/" + name), data);
        EXPECT_EQ(world.pool->downloadCount(), 0);
        EXPECT_TRUE(fs::is_empty(world.temp));
        EXPECT_EQ(world.shared.finalPath(d->fileHash()), world.incoming + "/" + name);
        // Uploads of the file pause while it is completed and go on after.
        std::vector<std::string> uploads = world.log.starting("pauseFile");
        EXPECT_EQ(uploads, (std::vector<std::string>{"pauseFile 1", "pauseFile 0"}));
    }
}

// A part verified in this run and changed on disk before the final check:
// the check reads every byte again, and only that part is fetched again.
TEST_F(CompletionTest, APartChangedAfterItsCheckIsFetchedAgainInBothLayouts) {
    for (bool single : {true, false}) {
        SCOPED_TRACE(single ? "single file" : "part directory");
        coreOptions()->setPartStyle(single);
        Bytes data = pattern_bytes(kPart + 486401, single ? 6 : 7);
        const char* name = single ? "flip.bin" : "flipdir.bin";
        Download* d = fetching(data, name);
        world.feed(d, data, 0, data.size() - 1000);
        world.settle();
        BoolArray parts;
        d->partialFile()->partMap(parts);
        ASSERT_TRUE(parts.get(0));
        std::string held = single ? std::string(d->partialFile()->path().c_str())
                                  : world.temp + "/" + name + "/1.1.part";
        Bytes bytes = read_bytes(held);
        bytes[4321] ^= 0x40;
        write_file(held, bytes);

        deliver(d, data, data.size() - 1000, data.size());
        EXPECT_NE(d->statusCode(), kDlsComplete);
        EXPECT_FALSE(file_exists(world.incoming + "/" + name));
        EXPECT_EQ(world.pool->downloadCount(), 1);
        EXPECT_EQ(d->partialFile()->gaps(), (std::vector<Gap>{{0, kPart}}));
        deliver(d, data, 0, kPart);
        EXPECT_EQ(d->statusCode(), kDlsComplete);
        EXPECT_EQ(read_bytes(world.incoming + "/" + name), data);
    }
}

// A source that withholds the hash set and sends one part wrong: the
// final check fails, and the download keeps its data and asks for the hash
// set instead of ending; once it arrives, only the wrong part is fetched
// again. Nothing is logged as ended before the download really is.
TEST_F(CompletionTest, WithoutItsHashSetAWrongFileWaitsAndOnlyTheWrongPartIsFetchedAgain) {
    for (bool single : {true, false}) {
        SCOPED_TRACE(single ? "single file" : "part directory");
        coreOptions()->setPartStyle(single);
        Bytes data = pattern_bytes(kPart + 1000, single ? 3 : 8);
        const char* name = single ? "wrong.bin" : "wrongdir.bin";
        Download* d = fetching(data, name, false);
        Bytes bad = data;
        bad[kPart + 10] ^= 1;
        world.log.take();
        world.ui.clear();
        deliver(d, bad, 0, bad.size());
        world.step(DLPool::kGateMs);
        EXPECT_EQ(d->statusCode(), kDlsLooking);
        EXPECT_EQ(world.pool->downloadCount(), 1);
        EXPECT_GE(world.log.count("feeder requestHashSet"), 1);
        EXPECT_FALSE(file_exists(world.incoming + "/" + name));
        EXPECT_TRUE(world.ui.logged().empty());
        // Asked again, not completed again, until the set arrives.
        world.log.take();
        world.step(70000);
        EXPECT_EQ(world.log.count("feeder requestHashSet"), 1);
        EXPECT_TRUE(world.log.starting("pauseFile").empty());

        PartDigests digests(data);
        ByteReader sets(digests.hashSets());
        EXPECT_TRUE(d->setHashSetWithCrumbs(sets.file()));
        world.settle();
        EXPECT_EQ(d->partialFile()->gaps(), (std::vector<Gap>{{kPart, kPart + 1000}}));
        deliver(d, data, kPart, data.size());
        EXPECT_EQ(d->statusCode(), kDlsComplete);
        EXPECT_EQ(read_bytes(world.incoming + "/" + name), data);
        EXPECT_EQ(world.ui.logged(), (std::vector<std::string>{std::string("End Download: ") + name}));
    }
}

// A download waiting for its hash set whose sources have all lost their
// connection: nothing is left to fetch, yet it connects its sources again
// and looks for more, and every source connected again is asked for the
// set.
TEST_F(CompletionTest, WaitingForItsHashSetADownloadConnectsItsSourcesAgain) {
    coreOptions()->setPartStyle(false);
    Bytes data = pattern_bytes(kPart + 1000, 9);
    Download* d = world.start(data, "gone.bin", false);
    FakeFileSource* source = world.feeder(d);
    world.step(0);
    Bytes bad = data;
    bad[10] ^= 1;
    deliver(d, bad, 0, bad.size());
    // Nothing is left to pick (the fake source took no range itself).
    d->lock(0);
    d->progress()->init(d->partialFile());
    ASSERT_FALSE(d->progress()->hasFreeRange());
    d->unlock();
    world.log.take();
    world.step(DLPool::kGateMs);
    ASSERT_EQ(d->statusCode(), kDlsLooking);
    EXPECT_GE(world.log.count("feeder tryAsk"), 1);
    EXPECT_GE(world.log.count("search"), 1);
    // The source has its connection again, and so has another: the next
    // round asks both (the first may be one that withholds the set).
    source->hashSetAnswer = true;
    auto* other = new FakeFileSource(&world.log, "other", d, &world.peer);
    other->hashSetAnswer = true;
    d->lock(0);
    d->sources()->append(other);
    d->unlock();
    world.log.take();
    world.step(DLS_Downloading::kHashSetPeriodMs - DLS_Downloading::kHashSetRetryAt + 1);
    EXPECT_EQ(world.log.count("feeder requestHashSet"), 1);
    EXPECT_EQ(world.log.count("other requestHashSet"), 1);
    PartDigests digests(data);
    ByteReader sets(digests.hashSets());
    EXPECT_TRUE(d->setHashSetWithCrumbs(sets.file()));
    world.settle();
    EXPECT_EQ(d->partialFile()->gaps(), (std::vector<Gap>{{0, kPart}}));
}

// The download as a user meets it, with the program's own sources: a
// source withholds the hash set and sends the first range wrong. All data
// arrives, the final check fails, and the download keeps its data and its
// source, waiting for the set. A source added then is asked for the set as
// soon as it connects; its answer names the wrong part, which alone is
// fetched again, and the file completes byte-exact.
TEST_F(CompletionTest, WithoutItsHashSetADownloadKeepsItsSourcesAndAsksTheNextOneThatConnects) {
    for (bool single : {true, false}) {
        SCOPED_TRACE(single ? "single file" : "part directory");
        coreOptions()->setPartStyle(single);
        realSources();
        Bytes data = pattern_bytes(15000000, single ? 12 : 13);
        const char* name = single ? "noset.bin" : "nosetdir.bin";
        Download* d = world.start(data, name, false);
        FakeSourcePeer& a = otherPeer(single ? "a" : "a2", single ? 0x0A000001 : 0x0A000011);
        ScriptedUploader first(world, a, data);
        first.givesHashSet = false;
        first.flipped = {10};
        d->addSource(&a.record, nullptr);
        EXPECT_EQ(first.serve(d) > 0 && first.hashSetRequests == 1, true) << "asked as it connects";
        run(d, {&first}, 40);
        EXPECT_EQ(first.bytesSent, data.size());
        EXPECT_EQ(d->statusCode(), kDlsLooking);
        EXPECT_TRUE(d->partialFile()->awaitingHashSet());
        EXPECT_EQ(world.pool->downloadCount(), 1);
        ASSERT_EQ(d->sources()->count(), 1) << "the source stays listed";
        auto* kept = static_cast<FileSourceInterface*>(d->sources()->at(0));
        EXPECT_NE(kept->statusCode(), kFssBadSource);

        // A source that gives the set is added: asked as it connects,
        // before any tick. Its answer names the wrong part.
        first.flipped.clear();
        FakeSourcePeer& b = otherPeer(single ? "b" : "b2", single ? 0x0B000001 : 0x0B000011);
        ScriptedUploader second(world, b, data);
        const uint64_t before = first.bytesSent;
        d->addSource(&b.record, nullptr);
        ASSERT_FALSE(b.outbox.empty());
        EXPECT_EQ(b.outbox.back().what, "hashSetRequest");
        run(d, {&first, &second}, 40);
        EXPECT_EQ(d->statusCode(), kDlsComplete);
        EXPECT_EQ(first.bytesSent - before + second.bytesSent, kPart) << "fetched again: the wrong part alone";
        EXPECT_EQ(read_bytes(world.incoming + "/" + name), data);
    }
}

// Before the last bytes arrive, a verified part changes on disk and the
// next part's file is cut short. The final check finds both; their bytes
// are fetched again from the same source, and the file completes without
// anything the user must do.
TEST_F(CompletionTest, APartChangedAndAnotherCutShortAreFetchedAgainFromTheSameSource) {
    coreOptions()->setPartStyle(false);
    realSources();
    Bytes data = pattern_bytes(3 * kPart - 4000, 14);
    Download* d = world.start(data, "cut.bin");
    // All but the last 1,000 bytes are there, every full part verified.
    d->writeData(data.data(), 0, data.size() - 1000);
    world.settle();
    BoolArray parts;
    d->partialFile()->partMap(parts);
    ASSERT_TRUE(parts.get(0) && parts.get(1));
    std::string changed = world.temp + "/cut.bin/1.1.part";
    Bytes bytes = read_bytes(changed);
    bytes[4321] ^= 0x40;
    write_file(changed, bytes);
    std::string cut = world.temp + "/cut.bin/1.2.part";
    bytes = read_bytes(cut);
    bytes.resize(bytes.size() - 5000);
    write_file(cut, bytes);

    FakeSourcePeer& a = otherPeer("a", 0x0A000001);
    ScriptedUploader up(world, a, data);
    d->addSource(&a.record, nullptr);
    run(d, {&up}, 60);
    EXPECT_EQ(d->statusCode(), kDlsComplete);
    EXPECT_EQ(read_bytes(world.incoming + "/cut.bin"), data);
    // The last crumb (its range was never taken by a source), the bytes
    // cut off and the changed part.
    const uint64_t lastCrumb = data.size() - (data.size() / 486400) * 486400;
    EXPECT_EQ(up.bytesSent, lastCrumb + 5000 + kPart);
    EXPECT_TRUE(world.ui.printed().end() != std::find(world.ui.printed().begin(), world.ui.printed().end(),
                                                      "Data missing in cut.bin at 19451000-19456000"));
}

TEST_F(CompletionTest, APartDamagedOnDiskIsFetchedAgainAlone) {
    coreOptions()->setPartStyle(false);
    Bytes data = pattern_bytes(kPart + 486401, 4);
    Download* d = fetching(data, "bad.bin");
    world.feed(d, data, 0, data.size() - 1000);
    world.settle();
    world.pool->shutdown();
    // Part 1 is trusted by its unchanged modification time.
    std::string part = world.temp + "/bad.bin/1.1.part";
    fs::file_time_type time = fs::last_write_time(part);
    Bytes bytes = read_bytes(part);
    bytes[4321] ^= 0x40;
    write_file(part, as_text(bytes));
    fs::last_write_time(part, time);

    world.pool->loadPartials(world.temp.c_str());
    Download* again = world.pool->findDownload(d->fileHash());
    ASSERT_NE(again, nullptr);
    world.hold(again);
    again->release();
    world.step(0);
    world.feeder(again);
    world.step(0);
    world.log.take();
    deliver(again, data, data.size() - 1000, data.size());
    EXPECT_NE(again->statusCode(), kDlsComplete);
    EXPECT_EQ(world.pool->downloadCount(), 1) << "it keeps its place";
    EXPECT_EQ(again->partialFile()->gaps(), (std::vector<Gap>{{0, kPart}})) << "only that part is fetched again";
    EXPECT_EQ(world.log.count("pauseFile 0"), 1) << "its uploads go on";
    deliver(again, data, 0, kPart);
    EXPECT_EQ(again->statusCode(), kDlsComplete);
    EXPECT_EQ(read_bytes(world.incoming + "/bad.bin"), data);
}

// The hashing thread's answer for loaded data that cannot be read.
class UnreadableVerifier final : public LoadedPartsVerifier {
public:
    void queueFinished(LoadedParts* parts) override {
        parts->hashDone(false);
        parts->release();
    }
};

TEST_F(CompletionTest, DataThatCannotBeVerifiedAgainEndsTheDownloadAndKeepsItsFiles) {
    coreOptions()->setPartStyle(true);
    Bytes data = pattern_bytes(5000, 5);
    Download* d = fetching(data, "unread.bin");
    world.feed(d, data, 0, 1000);
    world.pool->shutdown();
    UnreadableVerifier verifier;
    setLoadedPartsVerifier(&verifier);
    world.pool->loadPartials(world.temp.c_str());
    setLoadedPartsVerifier(nullptr);
    Download* again = world.pool->findDownload(d->fileHash());
    ASSERT_NE(again, nullptr);
    world.hold(again);
    again->release();
    world.step(0);
    EXPECT_EQ(again->statusCode(), kDlsErrorHashing);
    EXPECT_EQ(world.pool->downloadCount(), 0);
    EXPECT_TRUE(file_exists(world.temp + "/1.part"));
    EXPECT_TRUE(file_exists(world.temp + "/1.part.met"));
}

}  // namespace
