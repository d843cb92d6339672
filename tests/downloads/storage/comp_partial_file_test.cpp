#include "downloads/storage/comp_partial_file.h"

#include <gtest/gtest.h>
#include <utime.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "core/meta/special_tags.h"
#include "downloads/storage/part_met.h"
#include "downloads/storage/partial_file_fixture.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/safe_file.h"

namespace storage_test {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t kPart = 9728000;
constexpr uint64_t kCrumb = 486400;

class PartDirectory : public PartialFileTest {
protected:
    std::string temp(const std::string& name) { return settings.temp + "/" + name; }
    std::string incoming(const std::string& name) { return settings.incoming + "/" + name; }

    // Creates a download of data and writes all of it (checked when the
    // record has its hash set).
    void fetch(CompPartialFile* file, const Bytes& data, const char* name, bool withHashes = true) {
        ASSERT_TRUE(file->create(record(data, name, withHashes).get()));
        putAll(file, data, 1300000, 3);
        EXPECT_TRUE(file->nothingMissing());
    }
    // Reads the record of the download back as a loader does.
    std::unique_ptr<FileMeta> loaded(const std::string& met) {
        i4_safe_file in(met.c_str(), kFsRead);
        auto meta = std::make_unique<FileMeta>();
        uint8_t version = 0;
        OwnedString reason;
        EXPECT_NE(in.file(), nullptr) << met;
        if (in.file() == nullptr) return nullptr;
        EXPECT_TRUE(decodePartMet(in.file(), &version, *meta, reason)) << reason.c_str();
        EXPECT_EQ(version, kPartMetPartDirectory);
        meta->setPath(met.c_str());
        return meta;
    }
    void setTime(const std::string& path, time_t when) {
        struct utimbuf times = {when, when};
        ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
    }
};

TEST(PartDirectoryNames, StayOneComponentInsideTheTemporaryDirectory) {
    struct Case {
        std::string name, directory;
    } cases[] = {{"film.avi", "film.avi"}, {"..", "__"}, {".", "_"},       {"", "_"},
                 {"a/../b", "a_.._b"},     {"/", "_"},   {std::string(300, 'x'), std::string(200, 'x')}};
    for (const Case& c : cases) EXPECT_STREQ(partDirectoryName(c.name.c_str()).c_str(), c.directory.c_str()) << c.name;
}

TEST_F(PartDirectory, NewDownloadsGetDirectoriesNumberedWhenTaken) {
    Bytes data = pattern_bytes(1000, 1);
    fs::create_directories(temp("film.avi"));
    fs::create_directories(temp("film.avi.1"));
    Held<CompPartialFile> file(new CompPartialFile(&owner));
    ASSERT_TRUE(file->create(record(data, "film.avi").get()));
    EXPECT_STREQ(file->partDirectory().c_str(), (temp("film.avi.2") + "/").c_str());
    EXPECT_STREQ(file->metPath().c_str(), temp("film.avi.2/1.part.met").c_str());
    EXPECT_TRUE(fs::is_empty(temp("film.avi.2")));  // parts appear at their first write
    put(file.get(), data, 0, 10);
    EXPECT_TRUE(file_exists(temp("film.avi.2/1.1.part")));

    for (const char* odd : {"..", "a/b", ""}) {
        Held<CompPartialFile> other(new CompPartialFile(&owner));
        ASSERT_TRUE(other->create(record(data, odd).get())) << odd;
        std::string dir = other->partDirectory().c_str();
        EXPECT_EQ(dir.rfind(settings.temp + "/", 0), 0u) << odd;
        EXPECT_EQ(dir.find('/', settings.temp.size() + 1), dir.size() - 1) << odd;
    }
    settings.temp = dir / "missing/temp";
    Held<CompPartialFile> refused(new CompPartialFile(&owner));
    EXPECT_FALSE(refused->create(record(data, "x.bin").get()));
}

TEST_F(PartDirectory, PartsHoldTheirBytesAndAssembleByteExact) {
    Bytes data = pattern_bytes(2 * kPart + 1, 2);
    Held<CompPartialFile> file(new CompPartialFile(&owner));
    fetch(file.get(), data, "whole.bin", false);
    std::string dir = file->partDirectory().c_str();
    EXPECT_EQ(read_bytes(dir + "1.1.part"), Bytes(data.begin(), data.begin() + kPart));
    EXPECT_EQ(read_bytes(dir + "1.3.part"), Bytes{data.back()});
    ASSERT_TRUE(file->save(true));
    file->setState(PartialFile::kFinishing);
    EXPECT_EQ(file->complete(), CompleteResult::kComplete);
    EXPECT_EQ(read_bytes(incoming("whole.bin")), data);
    EXPECT_FALSE(file_exists(dir));
    EXPECT_EQ(sink.finalPath(), incoming("whole.bin"));
}

TEST_F(PartDirectory, RecordHasTheLayoutWithModificationTimesOfTrustedParts) {
    Bytes data = pattern_bytes(kPart + kCrumb, 3);
    Held<CompPartialFile> file(new CompPartialFile(&owner));
    ASSERT_TRUE(file->create(record(data, "m.bin").get()));
    put(file.get(), data, 0, kPart);  // part 0 complete and checked
    put(file.get(), data, kPart, kPart + 100);
    settle(file.get());
    std::string dir = file->partDirectory().c_str();
    setTime(dir + "1.1.part", 1700000001);
    setTime(dir + "1.2.part", 1700000002);
    ASSERT_TRUE(file->save(true));
    PartDigests digests(data);
    auto intTag = [](const std::string& name, int32_t v) {
        return cat({u8(3), le16(uint16_t(name.size())), text(name), le32(uint32_t(v))});
    };
    auto stringTag = [](const std::string& name, const std::string& value) {
        return cat({u8(2), le16(uint16_t(name.size())), text(name), counted_text(value)});
    };
    Bytes tags = cat({stringTag("\x01", "m.bin"), intTag("\x02", int32_t(data.size())),
                      intTag("\x08", int32_t(kPart + 100)), stringTag("\x12", ""), intTag("\x18", 1),
                      intTag("\x14", 0), intTag("0mod", 1700000001), intTag("1mod", 1700000002),
                      intTag("\x09" "0", int32_t(kPart + 100)), intTag("\x0a" "0", int32_t(data.size()))});
    Bytes expected = cat({u8(225), u8(2), le32(0), digests.fileHash, le32(10), tags, digests.hashSets()});
    EXPECT_EQ(read_bytes(file->metPath().c_str()), expected);

    // A part whose complete crumb is not yet checked is not trusted.
    put(file.get(), data, kPart + 100, kPart + kCrumb - 1);
    put(file.get(), data, kPart, kPart + kCrumb);  // nothing new
    ASSERT_TRUE(file->save(true));
    auto meta = loaded(file->metPath().c_str());
    EXPECT_NE(meta->findTag("0mod"), nullptr);
    EXPECT_EQ(meta->findTag("1mod"), nullptr);
}

TEST_F(PartDirectory, UnchangedPartsAreTrustedAndTouchedOnesCheckedAgain) {
    Bytes data = pattern_bytes(3 * kPart, 4);
    std::string met, dir;
    {
        Held<CompPartialFile> file(new CompPartialFile(&owner));
        ASSERT_TRUE(file->create(record(data, "t.bin").get()));
        put(file.get(), data, 0, 2 * kPart);
        put(file.get(), data, 2 * kPart, 2 * kPart + kCrumb);
        settle(file.get());
        ASSERT_TRUE(file->save(true));
        met = file->metPath().c_str();
        dir = file->partDirectory().c_str();
        file->close();
    }
    // Part 2 is touched after the save.
    FileStatus status;
    ASSERT_TRUE(fs_status((dir + "1.2.part").c_str(), status));
    setTime(dir + "1.2.part", status.modified + 5);

    TestOwner second;
    auto meta = loaded(met);
    Held<CompPartialFile> file(new CompPartialFile(&second));
    ASSERT_TRUE(file->load(meta.get(), 1));
    file->withMeta([](FileMeta& meta) { EXPECT_EQ(meta.findTag("0mod"), nullptr); });  // consumed
    BoolArray parts, crumbs;
    file->partMap(parts);
    file->crumbMap(crumbs);
    EXPECT_TRUE(parts.get(0));
    EXPECT_FALSE(parts.get(1));
    EXPECT_TRUE(crumbs.get(40));  // the first crumb of part 2, unchanged
    EXPECT_EQ(second.chooser.weight(0), -1);
    EXPECT_EQ(file->bytesDone(), static_cast<int64_t>(2 * kPart + kCrumb));
    EXPECT_TRUE(file->verify());
    file->applyResults();
    file->partMap(parts);
    EXPECT_TRUE(parts.get(1));
}

// The final check finds one bad part that was trusted by its time: the
// file is cut back, that part alone is fetched again.
TEST_F(PartDirectory, OneBadPartIsReopenedAloneAfterTheFinalCheck) {
    Bytes data = pattern_bytes(2 * kPart, 5);
    std::string met, dir;
    {
        Held<CompPartialFile> file(new CompPartialFile(&owner));
        fetch(file.get(), data, "bad.bin");
        ASSERT_TRUE(file->save(true));
        met = file->metPath().c_str();
        dir = file->partDirectory().c_str();
        file->close();
    }
    FileStatus status;
    ASSERT_TRUE(fs_status((dir + "1.2.part").c_str(), status));
    {
        Bytes part = read_bytes(dir + "1.2.part");
        part[1234] ^= 0x10;
        write_file(dir + "1.2.part", part);
    }
    setTime(dir + "1.2.part", status.modified);

    TestOwner second;
    auto meta = loaded(met);
    Held<CompPartialFile> file(new CompPartialFile(&second));
    ASSERT_TRUE(file->load(meta.get(), 1));
    EXPECT_TRUE(file->nothingMissing());
    file->setState(PartialFile::kFinishing);
    output.takeText();
    EXPECT_EQ(file->complete(), CompleteResult::kRefetch);
    EXPECT_EQ(file->state(), PartialFile::kActive);
    EXPECT_NE(output.takeText().find("Corrupted Download: bad.bin"), std::string::npos);
    EXPECT_EQ(read_bytes(dir + "1.1.part"), Bytes(data.begin(), data.begin() + kPart));
    EXPECT_EQ(fs::file_size(dir + "1.2.part"), kPart);
    EXPECT_FALSE(file->nothingMissing());
    file->applyResults();
    EXPECT_EQ(file->gaps(), (std::vector<Gap>{{kPart, 2 * kPart}}));
    EXPECT_EQ(second.chooser.weight(0), -1);
    EXPECT_EQ(second.chooser.weight(20), 0);

    putAll(file.get(), data, 2000000, 5);
    ASSERT_TRUE(file->nothingMissing());
    file->setState(PartialFile::kFinishing);
    EXPECT_EQ(file->complete(), CompleteResult::kComplete);
    EXPECT_EQ(read_bytes(incoming("bad.bin")), data);
}

TEST_F(PartDirectory, AFailedAppendLosesNothingAndTheNextTryCompletes) {
    Bytes data = pattern_bytes(3 * kPart - 10, 6);
    Held<CompPartialFile> file(new CompPartialFile(&owner));
    fetch(file.get(), data, "full.bin", false);
    std::string dir = file->partDirectory().c_str();
    file->setState(PartialFile::kFinishing);
    {
        FileSizeLimit disk(2 * kPart + kPart / 2);  // the third part does not fit
        EXPECT_EQ(file->complete(), CompleteResult::kAssemblyFailed);
    }
    EXPECT_EQ(file->state(), PartialFile::kActive);
    for (int i = 0; i < 3; i++) {
        uint64_t start = i * kPart, end = std::min<uint64_t>(start + kPart, data.size());
        EXPECT_EQ(read_bytes(dir + "1." + std::to_string(i + 1) + ".part"),
                  Bytes(data.begin() + long(start), data.begin() + long(end)))
            << i;
    }
    EXPECT_TRUE(file->nothingMissing());
    file->setState(PartialFile::kFinishing);
    EXPECT_EQ(file->complete(), CompleteResult::kComplete);
    EXPECT_EQ(read_bytes(incoming("full.bin")), data);
}

// Prints through it run a step once the text shows up, so a test can
// change the disk between two steps of the final check.
class StepUI final : public CaptureUI {
public:
    StepUI(std::string text, std::function<void()> step) : text_(std::move(text)), step_(std::move(step)) {}
    void vprintRaw(const char* format, va_list args) override {
        va_list copy;
        va_copy(copy, args);
        char line[512];
        std::vsnprintf(line, sizeof line, format, copy);
        va_end(copy);
        CaptureUI::vprintRaw(format, args);
        if (step_ && std::string(line).find(text_) != std::string::npos) std::exchange(step_, nullptr)();
    }

private:
    std::string text_;
    std::function<void()> step_;
};

// The append of the last part fails, and so does cutting back the part
// already appended: nothing is lost, the joined bytes stay in the first
// part's file, and the next try goes on from there.
TEST_F(PartDirectory, AFailedAppendWhoseCutBackFailsKeepsTheJoinedBytes) {
    Bytes data = pattern_bytes(3 * kPart - 10, 12);
    Held<CompPartialFile> file(new CompPartialFile(&owner));
    fetch(file.get(), data, "stuck.bin", false);
    std::string dir = file->partDirectory().c_str();
    file->setState(PartialFile::kFinishing);
    {
        // The cut-back's target name is taken by a directory.
        StepUI ui("Error assembling", [&] { fs::create_directory(dir + "1.2.part"); });
        FileSizeLimit disk(2 * kPart + kPart / 2);
        EXPECT_EQ(file->complete(), CompleteResult::kAssemblyFailed);
        EXPECT_NE(ui.text().find("could not be cut back into parts"), std::string::npos) << ui.text();
    }
    EXPECT_EQ(file->state(), PartialFile::kActive);
    EXPECT_EQ(read_bytes(dir + "1.1.part"), Bytes(data.begin(), data.begin() + long(2 * kPart)));
    EXPECT_EQ(read_bytes(dir + "1.3.part"), Bytes(data.begin() + long(2 * kPart), data.end()));
    fs::remove(dir + "1.2.part");
    file->setState(PartialFile::kFinishing);
    EXPECT_EQ(file->complete(), CompleteResult::kComplete);
    EXPECT_EQ(read_bytes(incoming("stuck.bin")), data);
    EXPECT_FALSE(file_exists(dir));
}

// The same failed cut-back, then a restart before the next try: the
// loaded download's check (on the hashing thread) cuts the joined parts
// back into their files first, so none of them counts as missing and is
// fetched again.
TEST_F(PartDirectory, JoinedPartsLeftByAFailedCutBackAreCutBackAtLoad) {
    Bytes data = pattern_bytes(3 * kPart - 10, 16);
    std::string met, dir;
    {
        Held<CompPartialFile> file(new CompPartialFile(&owner));
        fetch(file.get(), data, "restart.bin");
        dir = file->partDirectory().c_str();
        met = file->metPath().c_str();
        ASSERT_TRUE(file->save(true));
        file->setState(PartialFile::kFinishing);
        StepUI ui("Error assembling", [&] { fs::create_directory(dir + "1.2.part"); });
        FileSizeLimit disk(2 * kPart + kPart / 2);
        ASSERT_EQ(file->complete(), CompleteResult::kAssemblyFailed);
        ASSERT_EQ(fs::file_size(dir + "1.1.part"), 2 * kPart);
        file->close();
    }
    fs::remove(dir + "1.2.part");

    TestOwner second;
    auto meta = loaded(met);
    Held<CompPartialFile> file(new CompPartialFile(&second));
    ASSERT_TRUE(file->load(meta.get(), 1));
    EXPECT_TRUE(file->verify());
    EXPECT_EQ(read_bytes(dir + "1.1.part"), Bytes(data.begin(), data.begin() + long(kPart)));
    EXPECT_EQ(read_bytes(dir + "1.2.part"), Bytes(data.begin() + long(kPart), data.begin() + long(2 * kPart)));
    file->applyResults();
    EXPECT_EQ(file->gaps(), std::vector<Gap>{}) << "nothing to fetch again";
    ASSERT_TRUE(file->nothingMissing());
    file->setState(PartialFile::kFinishing);
    EXPECT_EQ(file->complete(), CompleteResult::kComplete);
    EXPECT_EQ(read_bytes(incoming("restart.bin")), data);
}

// A final check whose part hashes name no part (they disagree with the
// file hash): the download ends, its record and parts go (the joined file
// set aside when asked), so nothing of it is loaded again at the next start.
TEST_F(PartDirectory, DataNoPartCanBeBlamedForEndsWithoutARecord) {
    for (bool keep : {true, false}) {
        SCOPED_TRACE(keep);
        settings.saveCor = keep;
        Bytes data = pattern_bytes(2 * kPart, 13);
        auto meta = record(data, "cor.bin");
        meta->setFileHash(UniqueID());
        Held<CompPartialFile> file(new CompPartialFile(&owner));
        ASSERT_TRUE(file->create(meta.get()));
        putAll(file.get(), data, 1300000, 13);
        ASSERT_TRUE(file->nothingMissing());
        ASSERT_TRUE(file->save(true));
        std::string dir = file->partDirectory().c_str();
        file->setState(PartialFile::kFinishing);
        output.takeText();
        EXPECT_EQ(file->complete(), CompleteResult::kCorrupted);
        EXPECT_EQ(output.takeText(), "Corrupted Download: cor.bin\n");
        EXPECT_EQ(file->state(), PartialFile::kFailed);
        EXPECT_FALSE(file_exists(dir)) << "record and parts gone";
        EXPECT_FALSE(file_exists(incoming("cor.bin")));
        EXPECT_EQ(file_exists(temp("cor.bin")), keep);
        if (keep) {
            EXPECT_EQ(read_bytes(temp("cor.bin")), data);
        }
        fs::remove(temp("cor.bin"));
    }
}

// A right file that can be moved neither to incoming nor into the
// temporary directory is not shared or completed: the download keeps its
// data (in its parts again) and its record, and a later try completes.
TEST_F(PartDirectory, AFileThatCanBeMovedNowhereStaysADownloadInBothLayouts) {
    for (bool single : {true, false}) {
        SCOPED_TRACE(single ? "single file" : "part directory");
        Bytes data = pattern_bytes(kPart + 1000, single ? 14 : 15);
        const char* name = single ? "nowhere.bin" : "nowheredir.bin";
        Held<PartialFile> file(single ? new PartialFile(&owner) : new CompPartialFile(&owner));
        ASSERT_TRUE(file->create(record(data, name).get()));
        putAll(file.get(), data, 1300000, 14);
        ASSERT_TRUE(file->nothingMissing());
        ASSERT_TRUE(file->save(true));
        std::string met = file->metPath().c_str();
        std::string realTemp = settings.temp, realIncoming = settings.incoming;
        settings.temp = dir / "gone/temp";
        settings.incoming = dir / "gone/incoming";
        file->setState(PartialFile::kFinishing);
        output.takeText();
        EXPECT_EQ(file->complete(), CompleteResult::kAssemblyFailed);
        EXPECT_NE(output.takeText().find("could not be moved to"), std::string::npos);
        EXPECT_EQ(file->state(), PartialFile::kActive);
        EXPECT_EQ(sink.finalPath().find(name), std::string::npos) << "not placed";
        EXPECT_TRUE(file_exists(met));
        if (single) {
            EXPECT_EQ(read_bytes(file->path().c_str()), data);
        } else {
            std::string parts = file->partDirectory().c_str();
            EXPECT_EQ(read_bytes(parts + "1.1.part"), Bytes(data.begin(), data.begin() + long(kPart)));
            EXPECT_EQ(read_bytes(parts + "1.2.part"), Bytes(data.begin() + long(kPart), data.end()));
        }
        settings.temp = realTemp;
        settings.incoming = realIncoming;
        file->setState(PartialFile::kFinishing);
        EXPECT_EQ(file->complete(), CompleteResult::kComplete);
        EXPECT_EQ(read_bytes(incoming(name)), data);
        EXPECT_FALSE(file_exists(met));
    }
}

// A one-part file verified and then changed on disk: the final check reads
// it again, and its one part is fetched again instead of ending the
// download.
TEST_F(PartDirectory, AOnePartFileChangedAfterItsCheckFetchesItsPartAgainInBothLayouts) {
    for (bool single : {true, false}) {
        SCOPED_TRACE(single ? "single file" : "part directory");
        Bytes data = pattern_bytes(486401, single ? 17 : 18);
        Held<PartialFile> file(single ? new PartialFile(&owner) : new CompPartialFile(&owner));
        ASSERT_TRUE(file->create(record(data, single ? "one.bin" : "onedir.bin").get()));
        putAll(file.get(), data, 100000, 17);
        ASSERT_TRUE(file->nothingMissing());
        BoolArray parts;
        file->partMap(parts);
        ASSERT_TRUE(parts.get(0));
        file->close();
        std::string held = single ? std::string(file->path().c_str())
                                  : std::string(file->partDirectory().c_str()) + "1.1.part";
        Bytes bytes = read_bytes(held);
        bytes[4321] ^= 0x40;
        write_file(held, bytes);
        file->setState(PartialFile::kFinishing);
        EXPECT_EQ(file->complete(), CompleteResult::kRefetch);
        EXPECT_EQ(file->state(), PartialFile::kActive);
        file->applyResults();
        EXPECT_EQ(file->gaps(), (std::vector<Gap>{{0, data.size()}}));
    }
}

TEST_F(PartDirectory, AMissingPartFileIsMissingDataAnUnreadableOneNoVerdict) {
    Bytes data = pattern_bytes(2 * kPart, 7);
    Held<CompPartialFile> file(new CompPartialFile(&owner));
    ASSERT_TRUE(file->create(record(data, "io.bin").get()));
    std::string dir = file->partDirectory().c_str();
    put(file.get(), data, 0, kPart);
    put(file.get(), data, kPart, kPart + kCrumb);
    // Before the checks run, part 1 vanishes and part 2 turns into
    // something that cannot be read.
    file->close();
    fs::remove(dir + "1.1.part");
    fs::remove(dir + "1.2.part");
    fs::create_directory(dir + "1.2.part");
    output.takeText();
    settle(file.get());
    EXPECT_EQ(file->gaps(), (std::vector<Gap>{{0, kPart}, {kPart + kCrumb, 2 * kPart}}));
    std::string text = output.takeText();
    EXPECT_NE(text.find("Data missing in io.bin at 0-9728000"), std::string::npos) << text;
    EXPECT_NE(text.find("Error validating crumb: io.bin (9728000-10214400)"), std::string::npos) << text;
    EXPECT_EQ(text.find("Corruption"), std::string::npos) << text;
    EXPECT_EQ(file->bytesDone(), static_cast<int64_t>(kCrumb));
    EXPECT_EQ(owner.chooser.entry(0).freeBytes, kCrumb);
    EXPECT_TRUE(file->nothingMissing() == false);
}

TEST_F(PartDirectory, APartFileGoneBeforeTheFinalCheckIsFetchedAgain) {
    Bytes data = pattern_bytes(kPart + 1000, 11);
    Held<CompPartialFile> file(new CompPartialFile(&owner));
    fetch(file.get(), data, "gone.bin", false);
    std::string dir = file->partDirectory().c_str();
    fs::resize_file(dir + "1.2.part", 600);
    file->setState(PartialFile::kFinishing);
    EXPECT_EQ(file->complete(), CompleteResult::kRefetch);
    EXPECT_EQ(file->state(), PartialFile::kActive);
    EXPECT_FALSE(file->nothingMissing());
    file->applyResults();
    EXPECT_EQ(file->gaps(), (std::vector<Gap>{{kPart + 600, kPart + 1000}}));
    put(file.get(), data, kPart, kPart + 1000);
    ASSERT_TRUE(file->nothingMissing());
    file->setState(PartialFile::kFinishing);
    EXPECT_EQ(file->complete(), CompleteResult::kComplete);
    EXPECT_EQ(read_bytes(incoming("gone.bin")), data);
}

TEST_F(PartDirectory, CancelRemovesTheDirectory) {
    Bytes data = pattern_bytes(kPart + 5, 8);
    Held<CompPartialFile> file(new CompPartialFile(&owner));
    ASSERT_TRUE(file->create(record(data, "c.bin").get()));
    put(file.get(), data, 0, kPart + 5);
    settle(file.get());
    ASSERT_TRUE(file->save(true));
    std::string dir = file->partDirectory().c_str();
    file->cancel();
    EXPECT_FALSE(file_exists(dir));
    EXPECT_EQ(sink.removed(), 1);
}

TEST_F(PartDirectory, FlatRecordsMoveIntoADirectoryOfTheirOwn) {
    // A flat record 3.part.met for x.bin beside its parts; x.bin/ is taken
    // by another download.
    Bytes data = pattern_bytes(kPart + 1000, 9);
    {
        Held<CompPartialFile> file(new CompPartialFile(&owner));
        fetch(file.get(), data, "x.bin");
        ASSERT_TRUE(file->save(true));
        file->close();
    }
    fs::rename(temp("x.bin/1.part.met"), temp("3.part.met"));
    fs::rename(temp("x.bin/1.1.part"), temp("3.1.part"));
    fs::rename(temp("x.bin/1.2.part"), temp("3.2.part"));
    write_file(temp("x.bin/1.part.met"), Bytes{225});
    // An earlier move was interrupted after one part: x.bin1/ holds it.
    fs::create_directories(temp("x.bin1"));
    fs::rename(temp("3.2.part"), temp("x.bin1/3.2.part"));

    OwnedString moved;
    ASSERT_TRUE(migrateFlatRecord(settings.temp.c_str(), "3.part.met", &moved));
    EXPECT_STREQ(moved.c_str(), temp("x.bin1/3.part.met").c_str());
    EXPECT_TRUE(file_exists(temp("x.bin1/3.1.part")));
    EXPECT_FALSE(file_exists(temp("3.part.met")));

    auto meta = loaded(moved.c_str());
    TestOwner second;
    Held<CompPartialFile> file(new CompPartialFile(&second));
    ASSERT_TRUE(file->load(meta.get(), 3));
    EXPECT_STREQ(file->metPath().c_str(), moved.c_str());
    EXPECT_TRUE(file->verify());
    file->applyResults();
    EXPECT_TRUE(file->nothingMissing());
    file->setState(PartialFile::kFinishing);
    EXPECT_EQ(file->complete(), CompleteResult::kComplete);
    EXPECT_EQ(read_bytes(incoming("x.bin")), data);
}

TEST_F(PartDirectory, AFlatRecordWhoseDirectoryCannotBeMadeStaysAsItIs) {
    Bytes data = pattern_bytes(1000, 10);
    {
        Held<CompPartialFile> file(new CompPartialFile(&owner));
        fetch(file.get(), data, "y.bin");
        ASSERT_TRUE(file->save(true));
        file->close();
    }
    fs::rename(temp("y.bin/1.part.met"), dir / "2.part.met");
    fs::rename(temp("y.bin/1.1.part"), dir / "2.1.part");
    // The record's directory is not writable: its own name is a file.
    write_file(dir / "blocker", Bytes{1});
    std::string flat = dir / "blocker";
    OwnedString moved;
    EXPECT_FALSE(migrateFlatRecord((flat).c_str(), "2.part.met", &moved));
    EXPECT_FALSE(migrateFlatRecord(dir.path().c_str(), "nothing.met", &moved));
    EXPECT_TRUE(file_exists(dir / "2.part.met"));

    // A part file that cannot move: the record stays too, and says why.
    std::filesystem::create_directories(dir / "y.bin/2.1.part/inside");
    output.takeText();
    EXPECT_FALSE(migrateFlatRecord(dir.path().c_str(), "2.part.met", &moved));
    EXPECT_NE(output.takeText().find("2.1.part cannot move"), std::string::npos);
    EXPECT_TRUE(file_exists(dir / "2.part.met"));
    EXPECT_EQ(read_bytes(dir / "2.1.part"), data);
}

}  // namespace
}  // namespace storage_test
