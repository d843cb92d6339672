#include "transfer/sharing/hash_thread.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/bus/message_codes.h"
#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "core/ui/transfer_ui.h"
#include "support/bus_recorder.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "transfer/sharing/file_importer.h"
#include "transfer/sharing/indexed_file_list.h"
#include "transfer/sharing/share_list.h"
#include "transfer/sharing/shared_file_batch.h"
#include "transfer/sharing/stepped_hash_thread.h"
#include "v4ada/containers/ll.h"
#include "v4ada/digest/md4.h"
#include "v4ada/digest/part_hash.h"
#include "v4ada/file/fs.h"
#include "v4ada/time/clock_source.h"

namespace {

using support::BusRecorder;

constexpr uint32_t kTime = 1'000'000'000;

class RecordingImporter : public FileImporter {
public:
    bool import(FileMeta* record) override {
        imported.emplace_back(record->name());
        return accept;
    }
    std::vector<std::string> imported;
    bool accept = true;
};

class RecordingTransferUI : public TransferUI {
public:
    RecordingTransferUI() { previous_ = setCurrentTransferUI(this); }
    ~RecordingTransferUI() override { setCurrentTransferUI(previous_); }
    void setStatus(const char* text) override { statuses.emplace_back(text ? text : ""); }
    void sharesLoaded() override { loaded++; }
    std::vector<std::string> statuses;
    int loaded = 0;

private:
    TransferUI* previous_;
};

class FakeLoadedParts final : public LoadedParts {
public:
    explicit FakeLoadedParts(std::vector<std::string>* log, bool good) : log_(log), good_(good) {}
    bool verify() override {
        log_->push_back("verify");
        return good_;
    }
    void hashDone(bool verified) override { log_->push_back(verified ? "done ok" : "done bad"); }
    void release() override {
        log_->push_back("release");
        delete this;
    }

private:
    std::vector<std::string>* log_;
    bool good_;
};

void stamp(const std::string& path, time_t when) {
    struct utimbuf times = {when, when};
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

std::string pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; i++) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

UniqueID hashOf(const char* text) {
    UniqueID id;
    md4String(id.bytes(), text);
    return id;
}

// A known record as known.met keeps it (no path).
FileMeta* knownRecord(const char* name, uint32_t size, uint32_t time, const UniqueID& hash) {
    auto* record = new FileMeta();
    record->setName(name);
    record->setSize(size);
    record->setModificationTime(time);
    record->setFileHash(hash);
    return record;
}

class HashThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        initSpecialTags();
        ASSERT_TRUE(dir.ok());
        shared = dir / "shared";
        ASSERT_TRUE(fs_make_dir(shared.c_str()));
        knownMet = dir / "known.met";
        shareDat = dir / "share.dat";
        thread.setSavePaths(knownMet.c_str(), shareDat.c_str());
        thread.setImporter(&importer);
        shares.addDirectory(shared.c_str(), true);
    }
    void TearDown() override { resetSpecialTags(); }

    std::string file(const std::string& name, const std::string& bytes) {
        std::string path = shared + "/" + name;
        EXPECT_TRUE(support::write_file(path, bytes));
        stamp(path, kTime);
        return path;
    }

    uint64_t hashShared() { return thread.hashDirectories({shared.c_str()}); }

    // The batches posted so far, in order; other messages are counted.
    std::vector<std::unique_ptr<SharedFileBatch>> batches() {
        std::vector<std::unique_ptr<SharedFileBatch>> out;
        for (const Message& message : bus.take()) {
            if (message.code == MSG_ADD_SHARED_FILES)
                out.emplace_back(static_cast<SharedFileBatch*>(message.data));
            else if (message.code == MSG_SHARES_UPDATED)
                sharesUpdated++;
            else if (message.code == MSG_RESCHEDULE)
                reschedules++;
        }
        return out;
    }

    // Time stands still: batches are cut by count only.
    ManualClock clock;
    ScopedClockSource clockScope{&clock};
    support::TempDir dir;
    support::CaptureUI output;
    BusRecorder bus;
    RecordingTransferUI transferUi;
    RecordingImporter importer;
    IndexedFileList known;
    ShareList shares;
    SteppedHashThread thread{&known, &shares};
    std::string shared;
    std::string knownMet;
    std::string shareDat;
    int sharesUpdated = 0;
    int reschedules = 0;
};

}  // namespace

TEST_F(HashThreadTest, KnownFilesArePostedInOneBatchWithoutReadingThem) {
    const char* names[] = {"one", "two", "three"};
    for (int i = 0; i < 3; i++) {
        std::string content = pattern(100 + i, i);
        file(names[i], content);
        // A made-up hash: a file that was read would get its real one.
        known.append(knownRecord(names[i], static_cast<uint32_t>(content.size()), kTime, hashOf(names[i])));
    }
    EXPECT_EQ(hashShared(), 1u);
    EXPECT_EQ(thread.starts, 1);
    EXPECT_EQ(output.text(), "Loading shared files...\n");
    output.clear();

    HashThread::StepResult result = thread.step();
    EXPECT_FALSE(result.readData);
    EXPECT_TRUE(result.idle);
    auto posted = batches();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0]->run, 1u);
    ASSERT_EQ(posted[0]->records.size(), 3u);
    for (auto& record : posted[0]->records) {
        EXPECT_TRUE(record->fileHash().equals(hashOf(record->name()))) << record->name();
        EXPECT_EQ(std::string(record->path().c_str()), shared + "/" + record->name());
    }
    EXPECT_TRUE(importer.imported.empty());
    EXPECT_EQ(transferUi.statuses, std::vector<std::string>{"None."});
    EXPECT_EQ(output.text(), "Done loading shared files.\n");
    EXPECT_TRUE(thread.allHashed());
    EXPECT_EQ(sharesUpdated, 1);
    EXPECT_EQ(transferUi.loaded, 1);
    EXPECT_EQ(known.count(), 3);
    EXPECT_TRUE(support::file_exists(knownMet));
    EXPECT_EQ(support::read_file(shareDat), support::as_text(support::counted_text(shared)));
}

TEST_F(HashThreadTest, ManyKnownFilesGoInBoundedBatches) {
    const int files = HashThread::kBatchFiles + 44;
    for (int i = 0; i < files; i++) {
        std::string name = "f" + std::to_string(i);
        file(name, "x");
        known.append(knownRecord(name.c_str(), 1, kTime, hashOf(name.c_str())));
    }
    hashShared();
    EXPECT_FALSE(thread.step().readData);
    EXPECT_FALSE(thread.step().readData);
    auto posted = batches();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0]->records.size(), static_cast<size_t>(HashThread::kBatchFiles));
    EXPECT_EQ(posted[1]->records.size(), 44u);
    EXPECT_TRUE(thread.allHashed());
}

TEST_F(HashThreadTest, NewFilesAreHashedLikeThePartHasherOnePerStep) {
    const size_t sizes[] = {0, kCrumbSize, kCrumbSize + 1, kPartSize + 1};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        std::string name = "s" + std::to_string(size);
        std::string path = file(name, pattern(size, static_cast<unsigned>(size)));
        hashShared();
        HashThread::StepResult result = thread.step();
        EXPECT_TRUE(result.readData);
        auto posted = batches();
        ASSERT_EQ(posted.size(), 1u);
        ASSERT_EQ(posted[0]->records.size(), 1u);
        FileMeta* record = posted[0]->records[0].get();

        uint8_t expected[16];
        LL parts;
        ASSERT_TRUE(hashFileParts(expected, path.c_str(), kPartSizeKiB, &parts));
        EXPECT_TRUE(record->fileHash().equals(expected));
        EXPECT_EQ(record->size(), size);
        EXPECT_EQ(record->modificationTime(), kTime);
        EXPECT_TRUE(record->crumbHashesComplete());
        EXPECT_TRUE(record->partHashesComplete());
        int i = 0;
        while (void* part = parts.removeAt(0)) {
            EXPECT_TRUE(static_cast<UniqueID*>(part)->equals(record->partHash(i++)));
            delete static_cast<Md4Hash*>(part);
        }
        if (record->crumbCount() >= 2) {
            std::string bytes = support::read_file(path);
            uint8_t digest[16];
            Md4Context crumb;
            crumb.update(bytes.data() + kCrumbSize, std::min<size_t>(kCrumbSize, bytes.size() - kCrumbSize));
            crumb.final(digest);
            uint64_t value = 0;
            for (int k = 7; k >= 0; k--) value = (value << 8) | digest[k];
            EXPECT_EQ(record->crumbHash(1), value);
        }
        // Known from now on, so the next run reads nothing.
        EXPECT_TRUE(known.contains(record->fileHash()));
        EXPECT_EQ(transferUi.statuses, std::vector<std::string>{name});
        fs_remove(path.c_str());
        thread.step();  // the run ends
        batches();
        transferUi.statuses.clear();
    }
    EXPECT_EQ(importer.imported.size(), 4u);
}

TEST_F(HashThreadTest, RenamedFileIsHashedAndItsKnownRecordFollowsIt) {
    std::string content = pattern(kCrumbSize + 5, 7);
    std::string path = file("new name", content);
    uint8_t hash[16];
    ASSERT_TRUE(hashFileParts(hash, path.c_str(), kPartSizeKiB, nullptr));
    UniqueID id;
    id.copy(hash);
    FileMeta* old = knownRecord("old name", static_cast<uint32_t>(content.size()), kTime - 50, id);
    float sent = 2.5f;
    old->set(kSentCountTag, &sent, kTagFloat);
    known.append(old);

    hashShared();
    EXPECT_TRUE(thread.step().readData);
    auto posted = batches();
    ASSERT_EQ(posted.size(), 1u);
    FileMeta* record = posted[0]->records[0].get();
    EXPECT_STREQ(record->name(), "new name");
    EXPECT_EQ(record->getFloat(kSentCountTag), 2.5f);  // the known tags stay
    EXPECT_EQ(record->modificationTime(), kTime);
    EXPECT_TRUE(importer.imported.empty());  // known content is not imported again

    thread.step();  // end of the run: known.met written
    batches();
    ASSERT_EQ(known.count(), 1);
    EXPECT_STREQ(known.findByHash(id)->name(), "new name");
    IndexedFileList reloaded;
    ASSERT_EQ(reloaded.load(knownMet.c_str()), MetaListLoad::kLoaded);
    ASSERT_EQ(reloaded.count(), 1);
    EXPECT_STREQ(reloaded.findByHash(id)->name(), "new name");
    FileMeta* again = reloaded.copyBySizeTimeName(static_cast<uint32_t>(content.size()), kTime, "new name");
    ASSERT_NE(again, nullptr);
    delete again;
}

// known.met keeps a name of more than 128 bytes cut: the file is still
// known by it at the next start and not read again.
TEST_F(HashThreadTest, ALongNameIsKnownAgainAfterARestart) {
    std::string name = std::string(200, 'n') + ".bin";
    std::string path = file(name, pattern(kCrumbSize + 5, 9));
    hashShared();
    EXPECT_TRUE(thread.step().readData);
    thread.step();  // end of the run: known.met written
    batches();

    known.clear();
    ASSERT_EQ(known.load(knownMet.c_str()), MetaListLoad::kLoaded);
    ASSERT_EQ(known.count(), 1);
    hashShared();
    HashThread::StepResult again = thread.step();
    EXPECT_FALSE(again.readData);
    auto posted = batches();
    ASSERT_EQ(posted.size(), 1u);
    ASSERT_EQ(posted[0]->records.size(), 1u);
    EXPECT_EQ(std::string(posted[0]->records[0]->path().c_str()), path);
    EXPECT_EQ(importer.imported.size(), 1u) << "imported once, at the first run";
}

TEST_F(HashThreadTest, FailedImportIsNeitherSharedNorKnown) {
    file("song", "data");
    importer.accept = false;
    hashShared();
    thread.step();
    EXPECT_TRUE(batches().empty());
    EXPECT_EQ(known.count(), 0);
    EXPECT_NE(output.text().find("Import failed: song\n"), std::string::npos) << output.text();
}

TEST_F(HashThreadTest, DirectoryThatCannotBeListedLeavesTheShareList) {
    std::string gone = dir / "gone";
    ASSERT_TRUE(fs_make_dir(gone.c_str()));
    shares.addDirectory(gone.c_str(), true);
    ASSERT_TRUE(fs_remove_dir(gone.c_str()));
    thread.hashDirectories({gone.c_str(), shared.c_str()});
    output.clear();
    EXPECT_TRUE(thread.step().idle);
    EXPECT_EQ(output.text(), "Couldn't hash: " + gone + "\nDone loading shared files.\n");
    EXPECT_EQ(shares.directoryCount(), 1);
    EXPECT_EQ(support::read_file(shareDat), support::as_text(support::counted_text(shared)));
}

TEST_F(HashThreadTest, EmptyListEndsTheRunAtOnce) {
    thread.hashDirectories({});
    output.clear();
    HashThread::StepResult result = thread.step();
    EXPECT_TRUE(result.idle);
    EXPECT_FALSE(result.readData);
    EXPECT_EQ(output.text(), "Done loading shared files.\n");
    EXPECT_TRUE(thread.allHashed());
    EXPECT_EQ(support::read_file(knownMet), std::string("\x0e\x00\x00\x00\x00", 5));
    EXPECT_TRUE(support::file_exists(shareDat));
    batches();
    EXPECT_EQ(sharesUpdated, 1);
    // Nothing left: a further step does nothing and prints nothing.
    output.clear();
    EXPECT_TRUE(thread.step().idle);
    EXPECT_EQ(output.text(), "");
}

TEST_F(HashThreadTest, QueuedPartialDownloadsAreVerifiedFirst) {
    file("f", "content");
    std::vector<std::string> log;
    thread.queueFinished(new FakeLoadedParts(&log, true));
    hashShared();
    thread.queueFinished(new FakeLoadedParts(&log, false));
    EXPECT_EQ(thread.starts, 3);

    EXPECT_TRUE(thread.step().readData);
    EXPECT_EQ(log, (std::vector<std::string>{"verify", "done ok", "release"}));
    EXPECT_TRUE(thread.step().readData);
    EXPECT_EQ(log.size(), 6u);
    EXPECT_EQ(log[4], "done bad");
    EXPECT_TRUE(batches().empty());
    EXPECT_TRUE(importer.imported.empty());

    thread.step();
    EXPECT_EQ(batches().size(), 1u);
}

TEST_F(HashThreadTest, VerificationsAloneDoNotEndARun) {
    std::vector<std::string> log;
    thread.queueFinished(new FakeLoadedParts(&log, true));
    thread.step();
    output.clear();
    HashThread::StepResult result = thread.step();
    EXPECT_TRUE(result.idle);
    EXPECT_EQ(output.text(), "");
    EXPECT_FALSE(support::file_exists(knownMet));
    EXPECT_FALSE(thread.allHashed());
}

TEST_F(HashThreadTest, QuitInsideALargeFileEndsHashingWithinOneCrumb) {
    std::string big = shared + "/big";
    ASSERT_TRUE(support::write_file(big, ""));
    ASSERT_TRUE(fs_truncate(big.c_str(), 50ull * kPartSize));  // sparse
    static int crumbsLeft;
    crumbsLeft = 3;
    thread.setKeepRunning([] { return crumbsLeft-- > 0; });
    hashShared();
    output.clear();
    HashThread::StepResult result = thread.step();
    EXPECT_TRUE(result.quit);
    EXPECT_EQ(crumbsLeft, -1);  // looked at once per crumb, stopped at the fourth
    EXPECT_EQ(output.text(), "");
    EXPECT_TRUE(batches().empty());
    EXPECT_EQ(known.count(), 0);
    // Still quitting: no further step works.
    EXPECT_TRUE(thread.step().quit);
}

TEST_F(HashThreadTest, OnlyRegularFilesAreHashed) {
    ASSERT_EQ(::mkfifo((shared + "/pipe").c_str(), 0600), 0);
    ASSERT_TRUE(fs_make_dir((shared + "/sub").c_str()));
    ASSERT_TRUE(support::write_file(shared + "/sub/inner", "x"));
    ASSERT_EQ(::symlink("nowhere", (shared + "/dangling").c_str()), 0);
    file("plain", "x");
    hashShared();
    output.clear();
    EXPECT_TRUE(thread.step().readData);
    thread.step();
    auto posted = batches();
    ASSERT_EQ(posted.size(), 1u);
    ASSERT_EQ(posted[0]->records.size(), 1u);
    EXPECT_STREQ(posted[0]->records[0]->name(), "plain");
    EXPECT_NE(output.text().find("Couldn't get status of dangling\n"), std::string::npos) << output.text();
}

TEST_F(HashThreadTest, FileOf4GiBIsRefusedEvenWhenItsCutSizeIsKnown) {
    std::string huge = shared + "/huge";
    ASSERT_TRUE(support::write_file(huge, ""));
    ASSERT_TRUE(fs_truncate(huge.c_str(), 1ull << 32));
    stamp(huge, kTime);
    // Size 0 is what 2^32 cut to 32 bits gives.
    known.append(knownRecord("huge", 0, kTime, hashOf("huge")));
    hashShared();
    output.clear();
    thread.step();
    thread.step();
    EXPECT_TRUE(batches().empty());
    EXPECT_EQ(output.text(), "ERROR: Couldn't hash huge\nDone loading shared files.\n");
}

TEST_F(HashThreadTest, ANewListReplacesTheRunInProgress) {
    for (int i = 0; i < HashThread::kBatchFiles + 1; i++) {
        std::string name = "f" + std::to_string(i);
        file(name, "x");
        known.append(knownRecord(name.c_str(), 1, kTime, hashOf(name.c_str())));
    }
    EXPECT_EQ(hashShared(), 1u);
    thread.step();
    EXPECT_EQ(hashShared(), 2u);
    EXPECT_FALSE(thread.allHashed());
    thread.step();
    thread.step();
    auto posted = batches();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0]->run, 1u);
    EXPECT_EQ(posted[1]->run, 2u);  // the new run starts over
    EXPECT_EQ(posted[1]->records.size(), static_cast<size_t>(HashThread::kBatchFiles));
    EXPECT_EQ(posted[2]->records.size(), 1u);
    EXPECT_TRUE(thread.allHashed());
}
