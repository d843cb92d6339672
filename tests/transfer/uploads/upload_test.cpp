// Uploads and their packets: ranges, frames, the two packets in flight,
// pausing, read failures, read-ahead, speed and packet size, score, and
// uploads of partial files.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer.h"
#include "transfer/uploads/part_upload.h"
#include "transfer/uploads/upload.h"
#include "transfer/uploads/upload_packet.h"
#include "transfer/uploads/upload_world_fixture.h"
#include "support/files.h"
#include "v4ada/time/random.h"

namespace uploadtest {
namespace {

class UploadTest : public UploadWorld {
protected:
    void SetUp() override {
        UploadWorld::SetUp();
        peer_ = connectPeer(1);
    }
    void TearDown() override {
        finish();
        UploadWorld::TearDown();
    }

    // The owner's and the test's references go (before the next case or
    // the world).
    void finish() {
        owner_.letGo = true;
        if (owner_.held) owner_.endUpload(owner_.held);
        if (upload_) upload_->release();
        upload_ = nullptr;
        owner_.ended = 0;
    }

    // An upload of the bytes held by the owner and the test.
    Upload* start(const std::string& bytes, const char* name = "a.bin") {
        file_ = new support::CountingFile(bytes);
        upload_ = new Upload(file_, peer_, name, &owner_);
        upload_->addRef();
        owner_.hold(upload_);
        upload_->setHash(hashOf(5));
        return upload_;
    }
    PartUpload* startPart(support::FakePartReader* part) {
        auto upload = new PartUpload(std::unique_ptr<PartReader>(part), peer_, &owner_);
        upload_ = upload;
        upload_->addRef();
        owner_.hold(upload_);
        upload_->setHash(hashOf(5));
        return upload;
    }
    // The ranges as the slot hands them over, then two packets in flight.
    void request(std::vector<std::pair<uint32_t, uint32_t>> ranges, bool send = true) {
        uint32_t starts[3] = {};
        uint32_t ends[3] = {};
        for (size_t i = 0; i < ranges.size(); i++) {
            starts[i] = ranges[i].first;
            ends[i] = ranges[i].second;
        }
        upload_->setRanges(starts, ends);
        if (send && upload_->sendNext()) upload_->sendNext();
    }
    // The data frames' (start, bytes) in order; other frames fail.
    std::vector<std::pair<uint32_t, std::string>> dataOf(const std::vector<Frame>& frames) {
        std::vector<std::pair<uint32_t, std::string>> out;
        for (const Frame& frame : frames) {
            EXPECT_EQ(frame.opcode, ICLT_DATA);
            EXPECT_GE(frame.payload.size(), 24u);
            if (frame.payload.size() < 24) continue;
            auto u32 = [&](size_t at) {
                return static_cast<uint32_t>(static_cast<uint8_t>(frame.payload[at]) |
                                             static_cast<uint8_t>(frame.payload[at + 1]) << 8 |
                                             static_cast<uint8_t>(frame.payload[at + 2]) << 16 |
                                             static_cast<uint32_t>(static_cast<uint8_t>(frame.payload[at + 3])) << 24);
            };
            uint32_t start = u32(16);
            uint32_t end = u32(20);
            std::string bytes = frame.payload.substr(24);
            EXPECT_EQ(end - start, bytes.size());
            out.emplace_back(start, bytes);
        }
        return out;
    }
    // Every byte the frames carried, in order.
    std::string joined(const std::vector<Frame>& frames) {
        std::string all;
        for (auto& piece : dataOf(frames)) all += piece.second;
        return all;
    }
    // The wait for a further request runs out: an upload with every range
    // sent ends.
    void waitOutRequest() { upload_->tick(Upload::kDrainWaitMs + 1); }
    std::string ranges() {
        std::string out;
        for (int i = 0; i < 3; i++)
            out += "(" + std::to_string(upload_->rangeStart(i)) + "," + std::to_string(upload_->rangeEnd(i)) + ")";
        return out;
    }

    Peer* peer_ = nullptr;
    support::RecordingOwner owner_;
    support::CountingFile* file_ = nullptr;
    Upload* upload_ = nullptr;
};

TEST_F(UploadTest, SetRangesTakesTheRequestAsTheRangesToServe) {
    using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;
    struct Case {
        const char* what;
        std::vector<Ranges> before;  // requests served completely first
        Ranges request;
        const char* ranges;
        uint64_t position;
    } cases[] = {
        {"an empty middle range goes last", {}, {{0, 100}, {100, 100}, {200, 300}}, "(0,100)(200,300)(0,0)", 0},
        {"an empty range 0 lets the others up", {}, {{9, 3}, {100, 200}}, "(100,200)(0,0)(0,0)", 100},
        {"a repeat of the last range is dropped", {{{0, 100}}}, {{0, 100}, {100, 200}, {200, 300}},
         "(100,200)(200,300)(0,0)", 100},
        {"only one repeat is dropped", {{{0, 100}}}, {{300, 400}, {0, 100}, {0, 100}}, "(300,400)(0,100)(0,0)", 300},
        {"a fresh upload starts at the first start", {}, {{5000, 6000}}, "(5000,6000)(0,0)(0,0)", 5000},
        // A peer reading slower than the upload sends lists every range
        // until it has read it: what went out whole is not sent again.
        {"ranges sent whole stay dropped while the peer lists them",
         {{{0, 100}, {100, 200}, {200, 300}}, {{100, 200}, {200, 300}, {300, 400}}},
         {{200, 300}, {300, 400}, {400, 500}}, "(400,500)(0,0)(0,0)", 400},
        {"a range the peer stopped listing is sent again", {{{0, 100}, {100, 200}}, {{100, 200}, {200, 300}}},
         {{0, 100}, {300, 400}}, "(0,100)(300,400)(0,0)", 0},
        // The socket keeps order: once a range sent later is no longer
        // listed, one sent before it has reached the peer, and listing it
        // again asks for it again (a crumb failed its check).
        {"a range asked for alone after later ones were read is sent again",
         {{{0, 100}, {100, 200}, {200, 300}}}, {{0, 100}}, "(0,100)(0,0)(0,0)", 0},
        {"one sent after the last range read stays dropped", {{{0, 100}, {100, 200}, {200, 300}}},
         {{0, 100}, {200, 300}, {300, 400}}, "(0,100)(300,400)(0,0)", 0},
        {"ranges still listed after the first one read stay dropped", {{{0, 100}, {100, 200}, {200, 300}}},
         {{100, 200}, {200, 300}, {300, 400}}, "(300,400)(0,0)(0,0)", 300},
    };
    for (const Case& c : cases) {
        start(patternBytes(8000));
        owner_.letGo = false;
        for (const Ranges& served : c.before) {
            request(served, false);
            while (upload_->sendNext() && !upload_->drained()) {
            }
        }
        request(c.request, false);
        EXPECT_EQ(ranges(), c.ranges) << c.what;
        EXPECT_EQ(upload_->position(), c.position) << c.what;
        drain(peer_);
        finish();
    }
}

TEST_F(UploadTest, APositionInsideTheNewRangeIsKept) {
    start(patternBytes(3000));
    request({{0, 2000}});  // two packets of 512 queued
    EXPECT_EQ(upload_->position(), 1024u);
    request({{1000, 3000}}, false);
    EXPECT_EQ(upload_->position(), 1024u);
    request({{1024, 3000}}, false);  // not strictly inside: the start
    EXPECT_EQ(upload_->position(), 1024u);
    request({{2000, 3000}}, false);
    EXPECT_EQ(upload_->position(), 2000u);
}

TEST_F(UploadTest, ASmallRangeGoesOutByteExactAndEndsTheUpload) {
    std::string bytes = patternBytes(100);
    start(bytes);
    request({{2, 10}});
    std::vector<Frame> frames = drain(peer_);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].opcode, ICLT_DATA);
    EXPECT_EQ(frames[0].payload, dataPayload(hashOf(5), 2, bytes.substr(2, 8)));
    // Nothing was left after it: the upload waits a little for a further
    // request, then the owner hears the end.
    upload_->tick(Upload::kDrainWaitMs);
    EXPECT_EQ(owner_.ended, 0);
    upload_->tick(1);
    EXPECT_EQ(owner_.ended, 1);
    EXPECT_EQ(upload_->sent(), 5u + kDataHeaderLength + 8u);
}

TEST_F(UploadTest, TwoPacketsStayInFlightUntilTheRangesAreDone) {
    std::string bytes = patternBytes(20000);
    start(bytes);
    request({{0, 5000}, {9000, 9600}});
    EXPECT_EQ(peer_->queuedPackets(), 2);
    std::string got;
    std::vector<std::pair<uint32_t, std::string>> pieces;
    for (int round = 0; round < 100 && !upload_->drained(); round++) {
        link_->serve();
        EXPECT_LE(peer_->queuedPackets(), 2);
        for (auto& piece : dataOf(link_->frames(peer_))) pieces.push_back(piece);
    }
    waitOutRequest();
    EXPECT_EQ(owner_.ended, 1);
    std::string expected = bytes.substr(0, 5000) + bytes.substr(9000, 600);
    for (auto& piece : pieces) got += piece.second;
    EXPECT_EQ(got, expected);
    ASSERT_FALSE(pieces.empty());
    EXPECT_EQ(pieces.front().first, 0u);
    EXPECT_EQ(pieces.back().first + pieces.back().second.size(), 9600u);
    // After the last range nothing more goes out.
    link_->serve();
    EXPECT_TRUE(link_->frames(peer_).empty());
}

TEST_F(UploadTest, ANewRequestChangesWhatTheNextPacketCarries) {
    std::string bytes = patternBytes(20000);
    start(bytes);
    request({{0, 8000}});  // two queued
    request({{15000, 15100}}, false);
    std::vector<Frame> frames = drain(peer_);
    auto pieces = dataOf(frames);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[1].first, 512u);  // queued before the change
    EXPECT_EQ(pieces[2], std::make_pair(15000u, bytes.substr(15000, 100)));
    waitOutRequest();
    EXPECT_EQ(owner_.ended, 1);
}

TEST_F(UploadTest, PausingStopsThePacketsAndResumingSendsTwo) {
    start(patternBytes(20000));
    request({{0, 20000}});
    upload_->setPaused(true);
    EXPECT_EQ(dataOf(drain(peer_)).size(), 2u);  // those in flight
    link_->serve();
    EXPECT_TRUE(link_->frames(peer_).empty());
    upload_->setPaused(false);
    EXPECT_EQ(peer_->queuedPackets(), 2);
    upload_->setPaused(false);  // not paused: nothing more
    EXPECT_EQ(peer_->queuedPackets(), 2);
    EXPECT_EQ(dataOf(drain(peer_)).size(), 38u);  // the rest of the 40
    waitOutRequest();
    EXPECT_EQ(owner_.ended, 1);
}

TEST_F(UploadTest, AShortReadOrAReadErrorEndsTheUploadWithItsText) {
    struct Case {
        const char* what;
        int failAfter;
        bool throws;
        const char* text;
    } cases[] = {
        {"short", -1, false, "Not all read: 0 + (100/200) a.bin\nProblem Uploading (0,200)\n"},
        {"error", 0, false, "Exception 0 + 200 a.bin\nProblem Uploading (0,200)\n"},
        {"raised", 0, true, "Exception 0 + 200 a.bin\nProblem Uploading (0,200)\n"},
    };
    for (const Case& c : cases) {
        start(patternBytes(100));
        file_->failAfter = c.failAfter;
        file_->throwOnRead = c.throws;
        takeDebug();
        request({{0, 200}});
        EXPECT_EQ(takeDebug(), c.text) << c.what;
        EXPECT_EQ(owner_.ended, 1) << c.what;
        EXPECT_TRUE(drain(peer_).empty()) << c.what;
        finish();
    }
}

TEST_F(UploadTest, AFourMebibyteRangeIsServedInAHandfulOfReads) {
    const uint32_t size = 4u << 20;
    std::string bytes = patternBytes(size);
    start(bytes);
    // A fast peer: packets at the largest size.
    upload_->countSent(100000 * 2001);
    for (int i = 0; i < Upload::kSampleCount; i++) {
        upload_->tick(2001);
        upload_->countSent(100000 * 2001);
    }
    ASSERT_EQ(upload_->chunkSize(), Upload::kMaxChunk);
    request({{0, size}});
    std::vector<Frame> frames = drain(peer_);
    EXPECT_EQ(frames.size(), 4u);
    EXPECT_TRUE(joined(frames) == bytes);
    EXPECT_EQ(file_->reads, 4);
    waitOutRequest();
    EXPECT_EQ(owner_.ended, 1);
}

TEST_F(UploadTest, SmallPacketsAreCutFromOneReadNeverPastTheRange) {
    std::string bytes = patternBytes(300000);
    start(bytes);
    request({{1000, 251000}, {260000, 261000}});
    std::vector<Frame> frames = drain(peer_);
    EXPECT_EQ(joined(frames), bytes.substr(1000, 250000) + bytes.substr(260000, 1000));
    EXPECT_EQ(file_->reads, 2);  // one per range
}

TEST_F(UploadTest, TheEndCountsTheBytesSentAndLetsTheConnectionGo) {
    int uses = peer_->useCount();
    start(patternBytes(100), "movie.avi");
    EXPECT_EQ(peer_->useCount(), uses + 1);
    request({{0, 100}});
    drain(peer_);
    waitOutRequest();
    upload_->release();
    upload_ = nullptr;
    EXPECT_EQ(peer_->useCount(), uses);
    EXPECT_EQ(hub_->log, (std::vector<std::string>{"addSent 5 130"}));
    EXPECT_EQ(ui_->logged(), (std::vector<std::string>{"Start Upload: movie.avi", "End Upload: movie.avi"}));
}

TEST_F(UploadTest, AnAbortedUploadSendsNothingMoreAndKeepsNoPeer) {
    start(patternBytes(5000));
    request({{0, 5000}});
    EXPECT_FALSE(upload_->abort(connectPeer(2)));
    EXPECT_TRUE(upload_->abort(peer_));
    UserMeta out;
    EXPECT_FALSE(upload_->peerUser(out));
    EXPECT_TRUE(upload_->peerName().isNull());
    drain(peer_);
    EXPECT_EQ(owner_.ended, 1);
}

TEST_F(UploadTest, SpeedSetsThePacketSize) {
    struct Case {
        const char* what;
        double bytesPerMs;
        int windows;
        uint32_t chunk;
    } cases[] = {
        {"standstill", 0, 8, 512},
        {"the first sample counts alone", 10, 1, 768},
        {"10 bytes/ms", 10, 8, 768},
        {"100 bytes/ms", 100, 8, 3072},
        {"100 bytes/ms, later samples", 100, 20, 3072},
        {"capped", 200000, 8, Upload::kMaxChunk},
        {"a fast peer after its first, short window", 200000, 1, Upload::kMaxChunk},
    };
    for (const Case& c : cases) {
        peer_->setUploadPace(0.0, 0);  // a connection without an upload before
        start(patternBytes(10));
        owner_.letGo = false;
        EXPECT_EQ(upload_->chunkSize(), 512u);
        upload_->tick(Upload::kFirstSampleWindowMs);  // not above the first window: no sample yet
        EXPECT_EQ(upload_->averageSpeed(), 0.0) << c.what;
        for (int i = 0; i < c.windows; i++) {
            const int windowMs = i == 0 ? Upload::kFirstSampleWindowMs + 1 : 2001;
            upload_->countSent(static_cast<int>(c.bytesPerMs * windowMs));
            upload_->tick(i == 0 ? 1 : windowMs);
        }
        EXPECT_EQ(upload_->chunkSize(), c.chunk) << c.what;
        EXPECT_NEAR(upload_->averageSpeed(), c.bytesPerMs, c.bytesPerMs / 1000) << c.what;
        finish();
    }
}

TEST_F(UploadTest, TheNextUploadToTheSameConnectionStartsAtItsPace) {
    start(patternBytes(10));
    for (int i = 0; i < 3; i++) {
        upload_->countSent(100 * 2001);
        upload_->tick(2001);
    }
    ASSERT_EQ(upload_->chunkSize(), 3072u);
    finish();
    start(patternBytes(10));
    EXPECT_EQ(upload_->chunkSize(), 3072u);
    EXPECT_NEAR(upload_->averageSpeed(), 100.0, 0.1);
    // The carried speed is a full ring: a slower window moves it an eighth.
    upload_->countSent(20 * 2001);
    upload_->tick(2001);
    EXPECT_NEAR(upload_->averageSpeed(), 90.0, 0.1);
    finish();
    // Another connection starts afresh.
    peer_ = connectPeer(2);
    start(patternBytes(10));
    EXPECT_EQ(upload_->chunkSize(), 512u);
}

TEST_F(UploadTest, ARequestWithinTheWaitKeepsTheUploadGoing) {
    std::string bytes = patternBytes(5000);
    start(bytes);
    request({{0, 1000}});
    drain(peer_);
    ASSERT_TRUE(upload_->drained());
    upload_->tick(Upload::kDrainWaitMs - 10);
    uint32_t starts[3] = {3000, 0, 0};
    uint32_t ends[3] = {4000, 0, 0};
    upload_->setRanges(starts, ends);
    upload_->resumeDrained();
    EXPECT_EQ(peer_->queuedPackets(), 2);  // two in flight again
    EXPECT_EQ(joined(drain(peer_)), bytes.substr(3000, 1000));
    upload_->tick(Upload::kDrainWaitMs);  // a new wait from the last range
    EXPECT_EQ(owner_.ended, 0);
    // A pause stops the wait's clock.
    upload_->setPaused(true);
    upload_->tick(1000);
    EXPECT_EQ(owner_.ended, 0);
    upload_->setPaused(false);
    upload_->tick(1);
    EXPECT_EQ(owner_.ended, 1);
}

// Sent bytes wait in the sockets' buffers before the peer reads them and
// asks again: at a known speed the wait with every range sent lasts as long
// as the last request's bytes take at that speed, between the short wait
// and its cap.
TEST_F(UploadTest, TheWaitForTheNextRequestCoversTheBytesOnTheirWay) {
    struct Case {
        const char* what;
        double bytesPerMs;  // the connection's pace (0: none yet)
        uint32_t requested;
        int limitMs;
    } cases[] = {
        {"no speed yet", 0.0, 4000, Upload::kDrainWaitMs},
        {"fast: the short wait", 1000.0, 4000, Upload::kDrainWaitMs},
        {"4000 bytes at 2 a ms", 2.0, 4000, 2000},
        {"slow: capped", 0.5, 4000, Upload::kDrainWaitMaxMs},
    };
    for (const Case& c : cases) {
        peer_->setUploadPace(c.bytesPerMs, c.bytesPerMs > 0.0 ? 512 : 0);
        start(patternBytes(5000));
        owner_.letGo = false;
        request({{0, 1000}, {1000, 3000}, {3000, c.requested}});
        for (int round = 0; round < 100 && !upload_->drained(); round++) drain(peer_);
        ASSERT_TRUE(upload_->drained()) << c.what;
        upload_->tick(c.limitMs);
        EXPECT_EQ(owner_.ended, 0) << c.what;
        upload_->tick(1);
        EXPECT_EQ(owner_.ended, 1) << c.what;
        finish();
    }
}

TEST_F(UploadTest, TheScoreComesFromPartnersPriorityAndTheHelloCheck) {
    shareFile(hashOf(5), "shared.bin", "x", 2);
    struct Case {
        const char* what;
        bool partner;
        bool shared;
        bool verified;
        int score;
    } cases[] = {
        {"partner", true, true, true, 30000},
        {"unverified partner", true, true, false, 30000},
        {"shared file's priority", false, true, true, 2},
        {"not shared", false, false, true, 0},
    };
    int number = 10;
    for (const Case& c : cases) {
        Peer* peer = connectPeer(number++, c.verified);
        if (c.partner) sides_->downloads.partners.push_back(peer);
        support::RecordingOwner owner;
        auto upload = new Upload(new support::CountingFile("x"), peer, "f", &owner);
        upload->addRef();
        upload->setHash(hashOf(c.shared ? 5 : 6));
        EXPECT_EQ(upload->score(), c.score) << c.what;
        upload->release();
    }
}

TEST_F(UploadTest, AnUnverifiedHelloScoresMinusOneInFourteenOfFifteenDraws) {
    Peer* peer = connectPeer(2, false);
    srand(20);
    int expected = 0;
    for (int i = 0; i < 150; i++) expected += random_below(15) != 0 ? 1 : 0;
    srand(20);
    int low = 0;
    for (int i = 0; i < 150; i++) {
        support::RecordingOwner owner;
        auto upload = new Upload(new support::CountingFile("x"), peer, "f", &owner);
        upload->addRef();
        if (upload->score() == -1) low++;
        upload->release();
    }
    EXPECT_EQ(low, expected);
    EXPECT_GT(low, 120);
    EXPECT_LT(low, 150);
}

TEST_F(UploadTest, PartChangesLowerTheScoreOfOthersOnly) {
    const uint32_t part = 9728000;
    Peer* partner = connectPeer(3);
    sides_->downloads.partners.push_back(partner);
    for (Peer* peer : {peer_, partner}) {
        support::RecordingOwner owner;
        auto upload = new Upload(new support::CountingFile(patternBytes(100)), peer, "f", &owner);
        upload->addRef();
        const int first = upload->score();
        uint32_t starts[3] = {0, part, 0};
        uint32_t ends[3] = {10, part + 10, 0};
        upload->setRanges(starts, ends);  // nothing sent yet: no change
        upload->countSent(1);
        uint32_t later[3] = {part * 2, 0, 0};
        uint32_t laterEnds[3] = {part * 2 + 10, 0, 0};
        upload->setRanges(later, laterEnds);  // another part
        upload->setRanges(later, laterEnds);  // the same part
        EXPECT_EQ(upload->score(), peer == partner ? first : first - 1);
        // Finishing a range whose successor lies in another part.
        uint32_t two[3] = {0, part, 0};
        uint32_t twoEnds[3] = {100, part + 10, 0};
        upload->setRanges(two, twoEnds);
        while (upload->position() < 100) upload->sendNext();
        EXPECT_EQ(upload->score(), peer == partner ? first : first - 3);
        upload->detachOwner();
        upload->release();
    }
}

// ---- partial files ----

TEST_F(UploadTest, APartialFileAnswersByItsReadCode) {
    struct Case {
        const char* what;
        int code;
        bool sent;
        const char* debug;
        const char* printed;
    } cases[] = {
        {"done", PartReader::kReadDone, true, "", nullptr},
        {"finishing", PartReader::kFinishing, false, "Problem Uploading (0,50)\n", "ERROR: fillBuffer while completing"},
        {"completed, nothing shared", PartReader::kCompleted, false,
         "Part done but not found\nProblem Uploading (0,50)\n", nullptr},
        {"failed", PartReader::kFailed, false, "Part File error\nProblem Uploading (0,50)\n", nullptr},
        {"not there", PartReader::kUnavailable, false, "Part not there\nProblem Uploading (0,50)\n", nullptr},
        {"unknown", 9, false, "Problem Uploading (0,50)\n", nullptr},
    };
    std::string bytes = patternBytes(100);
    for (const Case& c : cases) {
        auto part = new support::FakePartReader(bytes, "part.iso");
        if (c.code != PartReader::kReadDone) part->forced = c.code;
        startPart(part);
        takeDebug();
        ui_->clear();
        request({{0, 50}});
        std::vector<Frame> frames = drain(peer_);
        EXPECT_EQ(!frames.empty(), c.sent) << c.what;
        if (c.sent) {
            EXPECT_EQ(frames[0].payload, dataPayload(hashOf(5), 0, bytes.substr(0, 50))) << c.what;
        }
        EXPECT_EQ(takeDebug(), c.debug) << c.what;
        if (c.printed) {
            EXPECT_EQ(ui_->printed(), std::vector<std::string>{c.printed}) << c.what;
        }
        waitOutRequest();  // a served range waits for a further request
        EXPECT_EQ(owner_.ended, 1) << c.what;
        finish();
    }
}

TEST_F(UploadTest, ACompletedDownloadIsServedFromThePathItsSharedRecordNames) {
    // Completion found a.iso taken in incoming and stored the file as
    // 3_a.iso: the older a.iso must not be served under this hash.
    std::string fresh = patternBytes(3000, 7);
    support::write_file(pathOf("incoming/a.iso"), patternBytes(3000, 1));
    support::write_file(pathOf("incoming/3_a.iso"), fresh);
    FileMeta* record = sides_->shares.share(hashOf(5), 3000, "a.iso", "");
    auto part = new support::FakePartReader(fresh, "a.iso");
    PartUpload* upload = startPart(part);
    owner_.letGo = false;  // the peer asks on after its first range
    request({{0, 1000}});
    EXPECT_EQ(dataOf(drain(peer_)).size(), 2u);
    part->forced = PartReader::kCompleted;  // completion happened meanwhile
    record->setPath(pathOf("incoming/3_a.iso").c_str());
    request({{1000, 3000}});
    EXPECT_EQ(joined(drain(peer_)), fresh.substr(1000, 2000));
    EXPECT_TRUE(upload->switched());
    waitOutRequest();
    EXPECT_GT(owner_.ended, 0);
}

TEST_F(UploadTest, APartialFileIsReadAheadWithinRangeZeroAndOnlyWhatItHolds) {
    std::string bytes = patternBytes(20000);
    auto part = new support::FakePartReader(bytes, "p");
    part->missing.push_back({6000, 7000});
    startPart(part);
    request({{0, 4000}, {5000, 8000}});
    std::vector<Frame> frames = drain(peer_);
    // Range 1 is read ahead to its end, which fails on the missing bytes;
    // then the packet's own bytes are read, up to the missing ones.
    EXPECT_EQ(joined(frames), bytes.substr(0, 4000) + bytes.substr(5000, 512));
    EXPECT_EQ(part->reads,
              (std::vector<std::string>{"0-4000", "5000-8000", "5000-5512", "5512-8000", "5512-6024"}));
    EXPECT_EQ(owner_.ended, 1);
}

TEST_F(UploadTest, APartialUploadResumesOnlyWhileTheDownloadIsActiveOrComplete) {
    auto part = new support::FakePartReader(patternBytes(20000), "p");
    startPart(part);
    request({{0, 20000}});
    upload_->setPaused(true);
    drain(peer_);
    for (int state : {PartReader::kStateFinishing, PartReader::kStateFailed}) {
        part->fileState = state;
        upload_->setPaused(false);
        EXPECT_TRUE(upload_->paused()) << state;
        EXPECT_EQ(peer_->queuedPackets(), 0) << state;
    }
    part->fileState = PartReader::kStateActive;
    upload_->setPaused(false);
    EXPECT_FALSE(upload_->paused());
    EXPECT_EQ(peer_->queuedPackets(), 2);
}

}  // namespace
}  // namespace uploadtest
