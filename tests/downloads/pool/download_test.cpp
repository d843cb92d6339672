// A download on its own: creation, sources and links, the data messages
// it accepts and the bytes it writes, the listings, status and
// availability.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "downloads/pool/download_states.h"
#include "downloads/pool/downloading_state.h"
#include "support/download_world.h"
#include "support/files.h"
#include "support/memory_files.h"
#include "support/part_digests.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/error/error.h"

namespace {

using namespace support;

class DownloadTest : public ::testing::Test {
protected:
    DownloadWorld world;
};

TEST_F(DownloadTest, CreationMakesTheNameSafeAndPicksTheLayout) {
    struct Case {
        const char* name;
        bool singleFile;
        const char* kept;  // the partial file's name
        std::string onDisk;
    };
    const Case cases[] = {
        {"film.avi", false, "film.avi", "film.avi"},
        {".", false, "_", "_"},
        {"..", false, "__", "__"},
        {"single.bin", true, "single.bin", "1.part"},
    };
    uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        coreOptions()->setPartStyle(c.singleFile);
        Bytes data = pattern_bytes(1000, seed++);
        std::unique_ptr<FileMeta> record = world.record(data, c.name);
        int32_t availability = 7;
        record->setSpecial(ST_AVAILABILITY, &availability);
        world.pool->startDownload(record.get());
        Download* d = world.pool->findDownload(record->fileHash());
        ASSERT_NE(d, nullptr);
        EXPECT_STREQ(d->name().c_str(), c.kept);
        EXPECT_TRUE(std::filesystem::exists(world.temp + "/" + c.onDisk));
        EXPECT_EQ(world.log.count(std::string("added ") + c.kept), 1);
        bool tagged = true;
        d->partialFile()->withMeta([&tagged](FileMeta& meta) { tagged = meta.findSpecial(ST_AVAILABILITY); });
        EXPECT_FALSE(tagged) << "availability is not kept";
        d->release();
    }
}

TEST_F(DownloadTest, AFileThatCannotBeCreatedIsRefused) {
    std::unique_ptr<FileMeta> record = world.record(Bytes(), "empty.bin");
    world.pool->startDownload(record.get());
    EXPECT_EQ(world.pool->downloadCount(), 0);
    EXPECT_EQ(world.ui.printed().back(), "Couldn't create temp file. Check temp directory in options.");
}

TEST_F(DownloadTest, SourcesAndLinks) {
    Download* d = world.start(pattern_bytes(1000, 3), "links.bin");
    world.factories.linksTaken = {"http://host/links.bin"};
    world.log.take();
    UserMeta user;
    user.setIp(0x08080808);
    user.setPort(4662);
    d->addSource(&user, nullptr);
    d->addSource(&user, nullptr);
    d->addSourceLink("bcp://8.8.8.8:4662");
    d->addSourceLink("8.8.4.4:4662");
    d->addSourceLink("bcp://00112233445566778899aabbccddeeff:10.1.2.3:4672");
    d->addSourceLink("http://host/links.bin");
    d->addSourceLink("http://host/links.bin");
    d->addSourceLink("ftp://nobody");
    EXPECT_EQ(world.log.take(), (std::vector<std::string>{
                                    "made 8.8.8.8:4662",
                                    "8.8.8.8:4662 resetRetries",
                                    "8.8.8.8:4662 resetRetries",
                                    "made 8.8.4.4:4662",
                                    "made 10.1.2.3:4672",
                                    "made link http://host/links.bin",
                                    "link http://host/links.bin resetRetries",
                                }));
    EXPECT_EQ(d->sources()->count(), 4);
    FileSourceInterface* parsed = d->parseSourceLink("bcp://9.9.9.9:1");
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(parsed->userMeta()->ip(), 0x09090909u);
    delete parsed;
    EXPECT_EQ(d->parseSourceLink("http://host/links.bin"), nullptr);
}

// --- data messages ----------------------------------------------------------------------

class DataMessageTest : public DownloadTest {
protected:
    void SetUp() override {
        data = pattern_bytes(3 * 486400, 11);
        d = world.start(data, "data.bin");
        source = new FakeFileSource(&world.log, "src", d, &world.peer);
        d->lock(0);
        d->sources()->append(source);
        d->unlock();
        world.step(0);
        ASSERT_EQ(d->statusCode(), kDlsLooking);
    }

    uint64_t missing() { return d->partialFile()->gapList().missingBytes(); }

    Bytes data;
    Download* d = nullptr;
    FakeFileSource* source = nullptr;
};

TEST_F(DataMessageTest, SoundMessagesWriteOnlyWhatWasRequested) {
    struct Case {
        const char* what;
        uint64_t reqStart, reqEnd;  // the source's one request
        uint32_t start, end;
        uint64_t written;
    };
    const Case cases[] = {
        {"inside the request", 0, 100000, 1000, 2000, 1000},
        {"the whole request", 200000, 300000, 200000, 300000, 100000},
        {"partly before it", 400000, 500000, 390000, 410000, 10000},
        {"partly after it", 600000, 700000, 690000, 710000, 10000},
        {"outside every request", 800000, 900000, 10, 20, 0},
        {"no request at all", 0, 0, 1000000, 1001000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        source->request(0, c.reqStart, c.reqEnd);
        uint64_t before = missing();
        Bytes payload(data.begin() + c.start, data.begin() + c.end);
        EXPECT_TRUE(world.message(d, c.start, c.end, payload));
        EXPECT_EQ(before - missing(), c.written);
    }
    // Data of a request held on another connection is not written.
    FakeSourcePeer stranger(&world.log, "stranger", 0x05050505, 4662);
    source->request(0, 1200000, 1300000);
    uint64_t before = missing();
    ByteReader reader(cat({le32(1200000), le32(1200010), Bytes(10, 1)}));
    EXPECT_TRUE(d->dataReceived(reader.file(), static_cast<SourcePeer*>(&stranger)));
    EXPECT_EQ(missing(), before);
}

TEST_F(DataMessageTest, UnsoundMessagesFail) {
    const uint32_t size = static_cast<uint32_t>(data.size());
    struct Case {
        const char* what;
        Bytes message;
    };
    const Case cases[] = {
        {"empty range", cat({le32(10), le32(10)})},
        {"backwards", cat({le32(20), le32(10), Bytes(10, 0)})},
        {"past the end", cat({le32(size - 5), le32(size + 5), Bytes(10, 0)})},
        {"short payload", cat({le32(0), le32(10), Bytes(9, 0)})},
        {"long payload", cat({le32(0), le32(10), Bytes(11, 0)})},
        {"no header", le32(0)},
    };
    source->request(0, 0, size);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint64_t before = missing();
        ByteReader reader(c.message);
        EXPECT_FALSE(d->dataReceived(reader.file(), static_cast<SourcePeer*>(&world.peer)));
        EXPECT_EQ(missing(), before);
        // Through the peer protocol the message fails with an error, which
        // drops the connection.
        ByteReader again(c.message);
        EXPECT_THROW(static_cast<PeerDownload*>(d)->dataReceived(again.file(), world.peer.connection), i4_err);
    }
    // A sound message from a connection the pool does not know is dropped.
    ByteReader unknown(cat({le32(0), le32(10), Bytes(10, 0)}));
    static_cast<PeerDownload*>(d)->dataReceived(unknown.file(), reinterpret_cast<TCPConnection*>(&unknown));
    EXPECT_EQ(missing(), data.size());
}

TEST_F(DataMessageTest, EverySourceHearsOfTheDataAndPresentBytesStay) {
    source->request(0, 0, 20000);
    Bytes payload(data.begin(), data.begin() + 20000);
    world.log.take();
    ASSERT_TRUE(world.message(d, 0, 20000, payload));
    EXPECT_EQ(world.log.take(), (std::vector<std::string>{"src dataReceived peer"}));
    // The same range with other bytes changes nothing that is present.
    ASSERT_TRUE(world.message(d, 0, 20000, Bytes(20000, 0)));
    Bytes back(20000);
    EXPECT_EQ(d->partialFile()->read(back.data(), 0, 20000), ReadResult::kDone);
    EXPECT_EQ(back, payload);
}

TEST_F(DataMessageTest, LinkSourcesWriteDirectly) {
    const uint32_t size = static_cast<uint32_t>(data.size());
    d->writeData(data.data(), 0, 1000);
    d->writeData(nullptr, 1000, 2000);
    d->writeData(data.data(), size, size + 1);
    EXPECT_EQ(missing(), size - 1000);
}

TEST_F(DataMessageTest, PeerMessagesReachTheirSource) {
    BoolArray map;
    map.resize(3);
    world.log.take();
    PeerDownload* wire = d;
    wire->fileStatus(world.peer.connection, &map);
    wire->haveNotice(world.peer.connection, 2);
    wire->haveNotice(world.peer.connection, 3);
    wire->noFile(world.peer.connection);
    wire->fileNameAnswer("other.bin", world.peer.connection);
    wire->noFile(reinterpret_cast<TCPConnection*>(&map));  // no peer: nobody hears of it
    EXPECT_EQ(world.log.take(), (std::vector<std::string>{"src fileStatus peer", "src haveNotice 2 peer",
                                                           "src noFile peer", "src setFileName other.bin peer"}));
}

// --- what listings read ------------------------------------------------------------------

TEST_F(DownloadTest, StatusCodeGivesUpWhileTheLockIsHeld) {
    Download* d = world.start(pattern_bytes(1000, 5), "busy.bin");
    EXPECT_EQ(d->statusCode(), kDlsLooking);
    d->lock(0);
    EXPECT_EQ(d->statusCode(), 0);
    d->unlock();
    EXPECT_EQ(d->statusCode(), kDlsLooking);
}

TEST_F(DownloadTest, Availability) {
    Bytes data = pattern_bytes(4 * 486400, 6);
    Download* d = world.start(data, "avail.bin");
    EXPECT_EQ(d->availability(), 0.0);
    BoolArray map;
    map.resize(4);
    map.set(1, true);
    d->changeWeight(&map, 1);
    EXPECT_DOUBLE_EQ(d->availability(), 0.25);
    world.feeder(d);
    world.feed(d, data, 0, data.size());
    world.settle();
    world.completions();
    EXPECT_DOUBLE_EQ(d->availability(), 1.0) << "every crumb complete";
}

TEST_F(DownloadTest, ShowSources) {
    Download* d = world.start(pattern_bytes(1000, 8), "show.bin");
    d->lock(0);
    d->setState(new DLS_Queued(d));
    d->unlock();
    d->setPriority(Download::kNormal);
    world.ui.clear();
    d->showSources();
    EXPECT_EQ(world.ui.printed(),
              (std::vector<std::string>{"No sources for: show.bin:", " status: Queued\t\tpriority: Normal"}));

    auto* a = new FakeFileSource(&world.log, "alice", d, nullptr);
    a->status = 5;
    a->speed = 1.5;
    a->file = "a.bin";
    auto* b = new FakeFileSource(&world.log, "", d, nullptr);
    b->status = 3;
    b->rank = 17;
    d->lock(0);
    d->sources()->append(a);
    d->sources()->append(b);
    d->unlock();
    world.ui.clear();
    d->showSources();
    EXPECT_EQ(world.ui.printed(), (std::vector<std::string>{
                                      "Showing user, filename, and status for 2 sources",
                                      "1) user: alice\t\tstatus: Transferring speed: 1.50\n   file name: a.bin",
                                      "2) user: ???\t\tstatus: Queue Place: 17 speed: 0.00\n   file name: ",
                                  }));
}

TEST_F(DownloadTest, LastSeenCompleteStampsTheRecord) {
    Download* d = world.start(pattern_bytes(2 * 486400, 9), "seen.bin");
    auto stamp = [d]() {
        std::string text;
        d->partialFile()->withMeta([&text](FileMeta& meta) {
            const char* value = meta.textOf(kLastSeenCompleteTag);
            text = value ? value : "";
        });
        return text;
    };
    d->lock(0);
    d->lastSeenComplete();
    d->unlock();
    EXPECT_EQ(stamp(), "") << "never seen complete";
    BoolArray map;
    map.resize(2);
    map.set(0, true);
    map.set(1, true);
    d->changeWeight(&map, 1);
    d->lock(0);
    d->lastSeenComplete();
    d->unlock();
    std::string seen = stamp();
    EXPECT_EQ(seen.size(), 24u) << seen;  // asctime without its newline
    EXPECT_EQ(seen.find('\n'), std::string::npos);
}

}  // namespace
