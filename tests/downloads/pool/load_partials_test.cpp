// Resuming downloads from the temporary directory: both layouts, the
// flat form, the stored priority and pause, records that do not read, a
// lone backup, a data file gone, and a directory that cannot be listed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "downloads/pool/download_states.h"
#include "downloads/storage/part_met.h"
#include "support/download_world.h"
#include "support/files.h"
#include "support/memory_files.h"
#include "support/part_digests.h"

namespace {

using namespace support;
namespace fs = std::filesystem;

// Two parts, the second of two crumbs.
constexpr uint64_t kTwoParts = 9728000 + 486401;

class LoadPartialsTest : public ::testing::Test {
protected:
    // A download of data that received [0, upTo) and was saved at shutdown.
    Download* leaveBehind(const Bytes& data, const char* name, uint64_t upTo) {
        Download* d = world.start(data, name);
        EXPECT_NE(d, nullptr);
        world.feeder(d);
        world.step(0);
        world.feed(d, data, 0, upTo);
        world.settle();
        return d;
    }

    // loadPartials, then the download of the data (held by the world).
    Download* reload(const Bytes& data) {
        world.pool->loadPartials(world.temp.c_str());
        std::unique_ptr<FileMeta> record = record_of(data, "x", false);
        Download* d = world.pool->findDownload(record->fileHash());
        if (d) {
            world.hold(d);
            d->release();
        }
        return d;
    }

    // Feeds the rest and completes; the file in incoming is returned.
    Bytes finish(Download* d, const Bytes& data, uint64_t from, const char* name) {
        world.feeder(d);
        world.step(0);
        EXPECT_EQ(d->statusCode(), kDlsLooking);
        world.feed(d, data, from, data.size());
        world.settle();
        world.completions();
        EXPECT_EQ(d->statusCode(), kDlsComplete);
        return read_bytes(world.incoming + "/" + name);
    }

    DownloadWorld world;
};

TEST_F(LoadPartialsTest, BothLayoutsResumeWithRepeatedBytesAndCompleteByteExact) {
    for (bool single : {true, false}) {
        SCOPED_TRACE(single ? "single file" : "part directory");
        coreOptions()->setPartStyle(single);
        Bytes data = pattern_bytes(kTwoParts, single ? 21 : 22);
        const char* name = single ? "one.bin" : "dir.bin";
        leaveBehind(data, name, 6000000);
        world.pool->shutdown();
        world.ui.clear();
        Download* d = reload(data);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(world.pool->downloadCount(), 1);
        EXPECT_EQ(world.ui.printed(), std::vector<std::string>()) << "each record is read once";
        EXPECT_EQ(world.ui.logged(), (std::vector<std::string>{std::string("Start Old Download: ") + name}));
        EXPECT_EQ(d->statusCode(), kDlsHashing);
        EXPECT_EQ(d->priority(), Download::kHighest) << "saved as the Highest download";
        world.step(0);
        EXPECT_EQ(d->statusCode(), kDlsLooking) << "data is missing after the check";
        // A million bytes arrive a second time.
        EXPECT_EQ(finish(d, data, 5000000, name), data);
        world.step(0);
        EXPECT_EQ(world.pool->downloadCount(), 0);
        EXPECT_TRUE(fs::is_empty(world.temp)) << "record and data gone";
    }
}

TEST_F(LoadPartialsTest, StoredPriorityAndPause) {
    coreOptions()->setPartStyle(true);
    Bytes paused = pattern_bytes(1000, 31);
    Bytes plain = pattern_bytes(2000, 32);
    Download* p = world.start(paused, "paused.bin");
    world.start(plain, "plain.bin");
    world.pool->setPriority(p, Download::kLow);
    p->pause();
    world.pool->shutdown();
    // The second record loses its priority tag.
    std::string path = world.temp + "/2.part.met";
    ByteReader in(read_bytes(path));
    FileMeta record;
    uint8_t version = 0;
    OwnedString reason;
    ASSERT_TRUE(decodePartMet(in.file(), &version, record, reason));
    record.removeSpecial(ST_DOWNLOAD_PRIORITY);
    ByteWriter out;
    ASSERT_TRUE(encodePartMet(version, record, out.file()));
    write_file(path, as_text(out.bytes()));

    Download* a = reload(paused);
    Download* b = reload(plain);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->statusCode(), kDlsHashing);
    EXPECT_EQ(a->priority(), Download::kLow);
    EXPECT_EQ(b->priority(), Download::kLow) << "no tag 24: Low";
    world.step(0);
    EXPECT_EQ(a->statusCode(), kDlsPaused);
    EXPECT_NE(b->statusCode(), kDlsPaused);
}

TEST_F(LoadPartialsTest, RecordsThatDoNotReadAreKeptAside) {
    struct Case {
        const char* name;
        Bytes content;
        bool keptAside;
    };
    const Case cases[] = {
        {"5.part.met", cat({u8(224), as_bytes("garbage")}), true},
        {"6.part.met", cat({u8(99), as_bytes("garbage")}), true},
        {"7.part.met", Bytes(), true},
        {"8.part.met", cat({u8(225), le32(0xFFFFFFFF)}), true},
        {"notes.met", cat({u8(224), as_bytes("garbage")}), false},
        {"known.met", cat({u8(14), le32(0)}), false},
    };
    for (const Case& c : cases) write_file(world.temp + "/" + c.name, as_text(c.content));
    world.ui.clear();
    world.pool->loadPartials(world.temp.c_str());
    EXPECT_EQ(world.pool->downloadCount(), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = world.temp + "/" + c.name;
        EXPECT_EQ(file_exists(path), !c.keptAside);
        EXPECT_EQ(file_exists(path + ".corrupt"), c.keptAside);
        if (c.keptAside) {
            EXPECT_EQ(read_bytes(path + ".corrupt"), c.content);
            bool told = false;
            for (const std::string& line : world.ui.printed()) told |= line.find(path) != std::string::npos;
            EXPECT_TRUE(told);
        }
    }
}

TEST_F(LoadPartialsTest, ALoneBackupIsPutBackAndLoaded) {
    coreOptions()->setPartStyle(true);
    Bytes data = pattern_bytes(486401, 41);
    leaveBehind(data, "bak.bin", 1000);
    world.pool->shutdown();
    std::string record = world.temp + "/1.part.met";
    fs::rename(record, record + ".bak");
    Download* d = reload(data);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(file_exists(record));
    EXPECT_FALSE(file_exists(record + ".bak"));
    world.step(0);
    EXPECT_EQ(finish(d, data, 0, "bak.bin"), data);
}

TEST_F(LoadPartialsTest, TheFlatFormMovesPastAClashAndResumes) {
    coreOptions()->setPartStyle(false);
    Bytes data = pattern_bytes(kTwoParts, 51);
    leaveBehind(data, "x.bin", 9800000);
    world.pool->shutdown();
    // The older flat form of record 3, beside an existing x.bin/.
    fs::path dir = fs::path(world.temp) / "x.bin";
    fs::rename(dir / "1.part.met", fs::path(world.temp) / "3.part.met");
    fs::rename(dir / "1.1.part", fs::path(world.temp) / "3.1.part");
    fs::rename(dir / "1.2.part", fs::path(world.temp) / "3.2.part");
    ASSERT_TRUE(fs::is_empty(dir));
    Download* d = reload(data);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(file_exists(world.temp + "/x.bin1/3.part.met"));
    EXPECT_TRUE(file_exists(world.temp + "/x.bin1/3.1.part"));
    EXPECT_FALSE(file_exists(world.temp + "/3.part.met"));
    world.step(0);
    EXPECT_EQ(finish(d, data, 9800000, "x.bin"), data);
}

// A record that does not load stays in "Error loading." until cancelled;
// the cancel removes that record and nothing else, also when the record
// failed before its download knew where its files are.
TEST_F(LoadPartialsTest, ARecordThatDidNotLoadIsRemovedAloneByItsCancel) {
    enum Fault { kDataGone, kSizeZero };
    struct Case {
        bool single;
        Fault fault;
    };
    const Case cases[] = {{true, kDataGone}, {true, kSizeZero}, {false, kSizeZero}};
    // Names a cancel that lost its paths would reach in the working
    // directory.
    const std::vector<std::string> bystanders = {".met", ".met.bak", "1.part.met", "1.part.met.bak"};
    fs::path before = fs::current_path();
    fs::current_path(world.dir.path());
    for (const std::string& name : bystanders) write_file(name, Bytes{7});
    uint32_t seed = 61;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.single) + " " + std::to_string(c.fault));
        coreOptions()->setPartStyle(c.single);
        Bytes data = pattern_bytes(5000, seed++);
        Download* left = leaveBehind(data, "lost.bin", 1000);
        std::string met = left->partialFile()->metPath().c_str();
        std::string held = left->partialFile()->path().c_str();
        world.pool->shutdown();
        if (c.fault == kDataGone) fs::remove(held);
        if (c.fault == kSizeZero) {
            ByteReader in(read_bytes(met));
            FileMeta record;
            uint8_t version = 0;
            OwnedString reason;
            ASSERT_TRUE(decodePartMet(in.file(), &version, record, reason));
            record.setSize(0);
            ByteWriter out;
            ASSERT_TRUE(encodePartMet(version, record, out.file()));
            write_file(met, out.bytes());
        }
        Bytes stored = read_bytes(met);
        world.pool->loadPartials(world.temp.c_str());
        ASSERT_EQ(world.pool->downloadCount(), 1);
        Download* d = world.pool->findDownload(record_of(data, "x", false)->fileHash());
        ASSERT_NE(d, nullptr);
        world.hold(d);
        d->release();
        EXPECT_EQ(d->statusCode(), kDlsErrorLoading);
        world.step(0);
        EXPECT_EQ(d->statusCode(), kDlsErrorLoading);
        // Saves never write over a record that did not load.
        world.step(DLPool::kSaveMs);
        d->shutdown();
        EXPECT_EQ(read_bytes(met), stored);
        d->cancel();
        world.step(0);
        EXPECT_EQ(world.pool->downloadCount(), 0);
        EXPECT_FALSE(file_exists(met));
        for (const std::string& name : bystanders) EXPECT_TRUE(file_exists(name)) << name;
        fs::remove_all(world.temp);
        fs::create_directories(world.temp);
    }
    fs::current_path(before);
}

TEST_F(LoadPartialsTest, ADirectoryThatCannotBeListed) {
    std::string missing = world.temp + "/nowhere";
    world.pool->loadPartials(missing.c_str());
    EXPECT_EQ(world.ui.printed().back(), "Couldn't load partials: " + missing);
}

}  // namespace
