#include "downloads/storage/partial_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

constexpr uint64_t kPart = 9728000;
constexpr uint64_t kCrumb = 486400;

class SingleFile : public PartialFileTest {
protected:
    PartialFile* make() { return new PartialFile(&owner); }
    std::string temp(const std::string& name) { return settings.temp + "/" + name; }
    std::string incoming(const std::string& name) { return settings.incoming + "/" + name; }
};

// Every size class of the geometry, written in pieces that cross crumb and
// part boundaries, one piece reaching over three parts.
TEST_F(SingleFile, WritesInAnyOrderCompleteByteExact) {
    struct Case {
        uint64_t size;
        uint64_t piece;
    } cases[] = {{kCrumb, 100000}, {kCrumb + 1, 250000}, {kPart + 1, 1000000}, {2 * kPart, 700001},
                 {2 * kPart + 1234, 2 * kPart + 2}};
    uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        Bytes data = pattern_bytes(c.size, seed);
        std::string name = "file" + std::to_string(seed++) + ".bin";
        size_t noticesBefore = uploads.notices().size();
        Held<PartialFile> file(make());
        ASSERT_TRUE(file->create(record(data, name.c_str()).get()));
        EXPECT_TRUE(file_exists(temp(std::to_string(seed - 1) + ".part")));
        putAll(file.get(), data, c.piece, seed);
        EXPECT_TRUE(file->nothingMissing());
        BoolArray crumbs;
        file->crumbMap(crumbs);
        EXPECT_TRUE(crumbs.allEqual(true));
        // Each crumb was announced to the partners once.
        std::vector<uint32_t> notices = uploads.notices();
        notices.erase(notices.begin(), notices.begin() + static_cast<long>(noticesBefore));
        std::sort(notices.begin(), notices.end());
        ASSERT_EQ(notices.size(), file->crumbCount());
        for (uint32_t i = 0; i < notices.size(); i++) EXPECT_EQ(notices[i], i);
        for (uint32_t i = 0; i < owner.chooser.crumbCount(); i++) EXPECT_EQ(owner.chooser.weight(i), -1);

        file->setState(PartialFile::kFinishing);
        EXPECT_EQ(file->complete(), CompleteResult::kComplete);
        EXPECT_EQ(file->state(), PartialFile::kCompleted);
        EXPECT_EQ(read_bytes(incoming(name)), data);
        EXPECT_EQ(sink.finalPath(), incoming(name));
        EXPECT_FALSE(file_exists(file->metPath().c_str()));
    }
}

TEST_F(SingleFile, WriteTakesExactlyItsBytesAndNeverOverwritesPresentData) {
    Bytes data = pattern_bytes(3 * kCrumb, 3);
    Held<PartialFile> file(make());
    ASSERT_TRUE(file->create(record(data, "a.bin").get()));

    ByteReader shortReader(Bytes(99, 7));
    EXPECT_EQ(file->write(shortReader.file(), 0, 100), WriteResult::kBadInput);
    EXPECT_EQ(file->write(shortReader.file(), 50, 50), WriteResult::kBadInput);
    ByteReader beyond(Bytes(10, 7));
    EXPECT_EQ(file->write(beyond.file(), data.size() - 5, data.size() + 5), WriteResult::kBadInput);
    EXPECT_EQ(file->bytesDone(), 0);
    EXPECT_EQ(file->gaps(), (std::vector<Gap>{{0, data.size()}}));

    EXPECT_EQ(put(file.get(), data, 1000, 2000), WriteResult::kMissing);
    // A later source sends other bytes over the present ones.
    Bytes other = pattern_bytes(data.size(), 99);
    EXPECT_EQ(put(file.get(), other, 500, 2500), WriteResult::kMissing);
    Bytes back(2000);
    ASSERT_EQ(file->read(back.data(), 500, 2500), ReadResult::kDone);
    EXPECT_TRUE(std::equal(back.begin() + 500, back.begin() + 1500, data.begin() + 1000));
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 500, other.begin() + 500));
    EXPECT_EQ(file->bytesDone(), 3000);

    for (auto [state, answer] : {std::pair{PartialFile::kFinishing, ReadResult::kFinishing},
                                 std::pair{PartialFile::kCompleted, ReadResult::kCompleted},
                                 std::pair{PartialFile::kFailed, ReadResult::kFailed}}) {
        file->setState(state);
        EXPECT_EQ(put(file.get(), data, 0, 10), WriteResult::kMissing);
        EXPECT_EQ(file->read(back.data(), 500, 600), answer);
    }
    EXPECT_EQ(file->bytesDone(), 3000);
}

TEST_F(SingleFile, ReadAnswersByStateAndGaps) {
    Bytes data = pattern_bytes(kCrumb, 4);
    Held<PartialFile> file(make());
    ASSERT_TRUE(file->create(record(data, "r.bin").get()));
    put(file.get(), data, 0, 1000);
    Bytes back(1000);
    EXPECT_EQ(file->read(back.data(), 0, 1000), ReadResult::kDone);
    EXPECT_EQ(back, Bytes(data.begin(), data.begin() + 1000));
    EXPECT_EQ(file->read(back.data(), 500, 1001), ReadResult::kUnavailable);
    EXPECT_EQ(file->read(back.data(), 10, 10), ReadResult::kUnavailable);
    EXPECT_EQ(file->read(back.data(), kCrumb - 1, kCrumb + 1), ReadResult::kUnavailable);
    EXPECT_EQ(put(file.get(), data, 1000, kCrumb), WriteResult::kMissing);  // the part's check is pending
    settle(file.get());
    EXPECT_TRUE(file->nothingMissing());
}

TEST_F(SingleFile, ABadCrumbGoesBackIntoTheGapsAndIsFetchedAgain) {
    Bytes data = pattern_bytes(kPart + 5 * kCrumb, 5);
    Held<PartialFile> file(make());
    ASSERT_TRUE(file->create(record(data, "bad.bin").get()));
    Bytes wrong = data;
    wrong[3 * kCrumb + 17] ^= 0xFF;
    put(file.get(), wrong, 3 * kCrumb, 4 * kCrumb);
    put(file.get(), data, 5 * kCrumb, 6 * kCrumb);
    output.takeText();
    settle(file.get());
    EXPECT_EQ(output.takeText(), "Corruption found in bad.bin at 1459200-1945600\n");
    EXPECT_EQ(file->bytesDone(), static_cast<int64_t>(kCrumb));
    EXPECT_TRUE(file->gapList().overlaps(3 * kCrumb, 4 * kCrumb));
    EXPECT_EQ(owner.chooser.weight(3), 0);
    EXPECT_EQ(owner.chooser.entry(3).ranges, (std::vector<Gap>{{3 * kCrumb, 4 * kCrumb}}));
    EXPECT_EQ(owner.chooser.weight(5), -1);
    EXPECT_EQ(uploads.notices(), std::vector<uint32_t>{5});
    EXPECT_EQ(sink.added(), 1);  // the first verified crumb shares the file

    put(file.get(), data, 3 * kCrumb, 4 * kCrumb);
    settle(file.get());
    EXPECT_EQ(owner.chooser.weight(3), -1);
    EXPECT_EQ(sink.added(), 1);
}

// A crumb hash that is wrong fails good data once; the second failure drops
// the crumb hashes for the run and the whole part decides.
TEST_F(SingleFile, CrumbHashesFailingTwiceAreDroppedAndPartsDecide) {
    Bytes data = pattern_bytes(kPart + kCrumb, 6);
    auto meta = record(data, "fallback.bin", false);
    PartDigests digests(data);
    digests.crumbs[2][0] ^= 1;  // a bad answer for crumb 2
    ByteReader sets(digests.hashSets());
    ASSERT_TRUE(meta->readHashSets(sets.file()));
    Held<PartialFile> file(make());
    ASSERT_TRUE(file->create(meta.get()));

    put(file.get(), data, 2 * kCrumb, 3 * kCrumb);
    settle(file.get());
    EXPECT_TRUE(file->gapList().overlaps(2 * kCrumb, 3 * kCrumb));
    put(file.get(), data, 2 * kCrumb, 3 * kCrumb);
    output.takeText();
    settle(file.get());
    EXPECT_FALSE(file->gapList().overlaps(2 * kCrumb, 3 * kCrumb));  // kept this time
    EXPECT_TRUE(file->crumbHashesDropped());
    EXPECT_TRUE(file->crumbHashesComplete());  // nothing more to ask for
    EXPECT_NE(output.takeText().find("Crumb hashes of fallback.bin dropped"), std::string::npos);

    // Another answer with crumb hashes is not taken again this run.
    ByteReader again(PartDigests(data).hashSets());
    EXPECT_TRUE(file->setHashSetWithCrumbs(again.file()));
    EXPECT_TRUE(file->crumbHashesDropped());

    putAll(file.get(), data, 300000, 6);
    EXPECT_TRUE(file->nothingMissing());
    BoolArray parts;
    file->partMap(parts);
    EXPECT_TRUE(parts.allEqual(true));
    file->setState(PartialFile::kFinishing);
    EXPECT_EQ(file->complete(), CompleteResult::kComplete);
    EXPECT_EQ(read_bytes(incoming("fallback.bin")), data);
}

TEST_F(SingleFile, KnownCrumbHashesAreNeverReplaced) {
    Bytes data = pattern_bytes(3 * kCrumb, 15);
    Held<PartialFile> file(make());
    ASSERT_TRUE(file->create(record(data, "known.bin").get()));
    PartDigests other(data);
    other.crumbs[1][3] ^= 0x20;  // a later answer disagrees about crumb 1
    ByteReader answer(other.hashSets());
    EXPECT_TRUE(file->setHashSetWithCrumbs(answer.file()));
    put(file.get(), data, kCrumb, 2 * kCrumb);
    settle(file.get());
    EXPECT_EQ(owner.chooser.weight(1), -1);
    EXPECT_FALSE(file->gapList().overlaps(kCrumb, 2 * kCrumb));
}

// Offsets near 4 GiB: the last part ends past 2^32 when computed as
// (i + 1) x 9,728,000, and the dump shows offsets above 2^31 unsigned.
TEST_F(SingleFile, TheLargestFileWorksNearFourGiB) {
    const uint64_t size = 0xFFFFFFFFull;
    auto meta = std::make_unique<FileMeta>();
    meta->setName("huge.bin");
    meta->setSize(static_cast<uint32_t>(size));
    Held<PartialFile> file(make());
    ASSERT_TRUE(file->create(meta.get()));
    EXPECT_EQ(file->partCount(), 442u);
    EXPECT_EQ(owner.chooser.crumbCount(), 8831u);
    Bytes tail = pattern_bytes(3 * kCrumb, 16);
    const uint64_t from = size - tail.size();
    ByteReader reader(tail);
    EXPECT_EQ(file->write(reader.file(), from, size), WriteResult::kMissing);
    EXPECT_EQ(file->gaps(), (std::vector<Gap>{{0, from}}));
    Bytes back(tail.size());
    EXPECT_EQ(file->read(back.data(), from, size), ReadResult::kDone);
    EXPECT_EQ(back, tail);
    output.takeText();
    file->gapList().dump();
    EXPECT_EQ(output.takeText(), "\n#   (start- end)\n(1) (0-" + std::to_string(from) + ")\n\n\n");
    // The last crumb is short and ends at the size.
    EXPECT_EQ(owner.chooser.entry(8830).ranges, (std::vector<Gap>{{8830 * kCrumb, size}}));
}

TEST_F(SingleFile, HashSetArrivingLaterChecksWhatIsThere) {
    Bytes data = pattern_bytes(2 * kPart + 10, 7);
    Held<PartialFile> file(make());
    ASSERT_TRUE(file->create(record(data, "late.bin", false).get()));
    EXPECT_FALSE(file->hashSetKnown());
    EXPECT_FALSE(file->crumbHashesComplete());
    Bytes wrong = data;
    wrong[kPart + 5] ^= 0x40;
    put(file.get(), data, 0, kPart);
    put(file.get(), wrong, kPart, 2 * kPart);
    settle(file.get());
    EXPECT_TRUE(uploads.notices().empty());

    PartDigests digests(data);
    Bytes legacy = {3, 0};
    for (const Bytes& part : digests.parts) legacy.insert(legacy.end(), part.begin(), part.end());
    ByteReader parts(legacy);
    EXPECT_TRUE(file->setHashSet(parts.file()));
    EXPECT_TRUE(file->hashSetKnown());
    settle(file.get());
    BoolArray map;
    file->partMap(map);
    EXPECT_TRUE(map.get(0));
    EXPECT_FALSE(map.get(1));
    EXPECT_TRUE(file->gapList().overlaps(kPart, 2 * kPart));
    EXPECT_EQ(uploads.notices().size(), 20u);
    // A second answer changes nothing once the set is known.
    ByteReader ignored(Bytes{0, 0});
    EXPECT_TRUE(file->setHashSet(ignored.file()));
}

TEST_F(SingleFile, ASavedRecordResumesAndIsCheckedAgain) {
    Bytes data = pattern_bytes(kPart + 3 * kCrumb, 8);
    owner.prio = 2;
    owner.paused = true;
    std::string met;
    {
        Held<PartialFile> file(make());
        ASSERT_TRUE(file->create(record(data, "resume.bin").get()));
        put(file.get(), data, 0, 2 * kCrumb + 5);
        put(file.get(), data, kPart, kPart + kCrumb);
        settle(file.get());
        ASSERT_TRUE(file->save());
        met = file->metPath().c_str();
        file->close();
    }
    ASSERT_EQ(met, temp("1.part.met"));
    i4_safe_file in(met.c_str(), kFsRead);
    ASSERT_NE(in.file(), nullptr);
    FileMeta loaded;
    uint8_t version = 0;
    OwnedString reason;
    ASSERT_TRUE(decodePartMet(in.file(), &version, loaded, reason));
    EXPECT_EQ(version, kPartMetSingleFile);
    EXPECT_EQ(loaded.getSpecialInt(ST_DOWNLOAD_PRIORITY), 2);
    EXPECT_EQ(loaded.getSpecialInt(ST_STATE), 1);
    loaded.setPath(met.c_str());

    TestOwner second;
    Held<PartialFile> file(new PartialFile(&second));
    ASSERT_TRUE(file->load(&loaded, 0));
    EXPECT_EQ(file->bytesDone(), static_cast<int64_t>(3 * kCrumb + 5));
    EXPECT_EQ(file->gaps(), (std::vector<Gap>{{2 * kCrumb + 5, kPart}, {kPart + kCrumb, data.size()}}));
    EXPECT_EQ(loaded.findSpecial(ST_PART_TRANS), nullptr);
    EXPECT_EQ(loaded.findSpecial(ST_TEMP_FILE_NAME), nullptr);
    // Every part of this layout counts as changed: nothing is trusted
    // until checked.
    BoolArray crumbs;
    file->crumbMap(crumbs);
    EXPECT_TRUE(crumbs.allEqual(false));
    EXPECT_TRUE(file->verify());
    file->applyResults();
    file->crumbMap(crumbs);
    EXPECT_TRUE(crumbs.get(0) && crumbs.get(1) && crumbs.get(20));
    EXPECT_FALSE(crumbs.get(2));
    putAll(file.get(), data, 400000, 8);
    file->setState(PartialFile::kFinishing);
    EXPECT_EQ(file->complete(), CompleteResult::kComplete);
    EXPECT_EQ(read_bytes(incoming("resume.bin")), data);
}

TEST_F(SingleFile, LoadReportsAMissingOrUnopenableDataFile) {
    Bytes data = pattern_bytes(1000, 9);
    auto meta = record(data, "x.bin");
    meta->setSpecial(ST_TEMP_FILE_NAME, "5.part");
    meta->setPath(temp("5.part.met").c_str());
    {
        Held<PartialFile> file(make());
        EXPECT_FALSE(file->load(meta.get(), 0));
        EXPECT_EQ(output.takeText(), temp("5.part") + " not found.\n");
    }
    std::filesystem::create_directory(temp("5.part"));
    meta->setSpecial(ST_TEMP_FILE_NAME, "5.part");
    Held<PartialFile> file(make());
    EXPECT_FALSE(file->load(meta.get(), 0));
    EXPECT_EQ(output.takeText(), temp("5.part") + " Couldn't be opened.\n");
}

// Wrong data without the hash set is kept, and waits for the hash set to
// name the wrong part; a check whose part hashes name no part (they
// disagree with the file hash) ends the download, its data kept aside or
// removed.
TEST_F(SingleFile, WrongDataWaitsForItsHashSetOrEndsCorruptedWhenNoPartIsToBlame) {
    {
        Bytes data = pattern_bytes(2 * kPart, 10);
        Bytes wrong = data;
        wrong[7] ^= 1;
        Held<PartialFile> file(make());
        ASSERT_TRUE(file->create(record(data, "w.bin", false).get()));
        putAll(file.get(), wrong, kPart, 10);
        ASSERT_TRUE(file->nothingMissing());
        file->setState(PartialFile::kFinishing);
        EXPECT_EQ(file->complete(), CompleteResult::kRefetch);
        EXPECT_EQ(file->state(), PartialFile::kActive);
        EXPECT_FALSE(file->nothingMissing()) << "until the hash set arrives";
        EXPECT_EQ(read_bytes(file->path().c_str()), wrong);
        ByteReader sets(PartDigests(data).hashSets());
        EXPECT_TRUE(file->setHashSetWithCrumbs(sets.file()));
        settle(file.get());
        EXPECT_EQ(file->gaps(), (std::vector<Gap>{{0, kPart}}));
        put(file.get(), data, 0, kPart);
        settle(file.get());
        ASSERT_TRUE(file->nothingMissing());
        file->setState(PartialFile::kFinishing);
        EXPECT_EQ(file->complete(), CompleteResult::kComplete);
        EXPECT_EQ(read_bytes(incoming("w.bin")), data);
    }
    for (bool keep : {true, false}) {
        settings.saveCor = keep;
        Bytes data = pattern_bytes(2 * kPart, 10);
        auto meta = record(data, "c.bin");
        meta->setFileHash(UniqueID());
        Held<PartialFile> file(make());
        ASSERT_TRUE(file->create(meta.get()));
        std::string dataPath = file->path().c_str();
        putAll(file.get(), data, kPart, 10);
        ASSERT_TRUE(file->nothingMissing());
        ASSERT_TRUE(file->save(true));
        file->setState(PartialFile::kFinishing);
        output.takeText();
        EXPECT_EQ(file->complete(), CompleteResult::kCorrupted);
        EXPECT_EQ(output.takeText(), "Corrupted Download: c.bin\n");
        EXPECT_EQ(file->state(), PartialFile::kFailed);
        EXPECT_FALSE(file_exists(dataPath));
        EXPECT_FALSE(file_exists(file->metPath().c_str()));
        EXPECT_EQ(file_exists(temp("c.bin")), keep);
        EXPECT_FALSE(file_exists(incoming("c.bin")));
        std::filesystem::remove(temp("c.bin"));
    }
}

TEST_F(SingleFile, AFinishedFileThatCannotEnterIncomingStaysInTemp) {
    Bytes data = pattern_bytes(kCrumb, 11);
    Held<PartialFile> file(make());
    ASSERT_TRUE(file->create(record(data, "stay.bin").get()));
    putAll(file.get(), data, kCrumb, 11);
    ASSERT_TRUE(file->save(true));
    settings.incoming = dir / "no/such/dir";
    file->setState(PartialFile::kFinishing);
    output.takeText();
    EXPECT_EQ(file->complete(), CompleteResult::kComplete);
    std::string text = output.takeText();
    EXPECT_NE(text.find("could not be moved to " + settings.incoming + "/stay.bin"), std::string::npos);
    EXPECT_NE(text.find("stay.bin: kept at " + temp("stay.bin")), std::string::npos);
    EXPECT_EQ(read_bytes(temp("stay.bin")), data);
    EXPECT_EQ(sink.finalPath(), temp("stay.bin"));
    EXPECT_FALSE(file_exists(file->metPath().c_str()));
}

TEST_F(SingleFile, CancelRemovesDataRecordAndShare) {
    Bytes data = pattern_bytes(2 * kCrumb, 12);
    Held<PartialFile> file(make());
    ASSERT_TRUE(file->create(record(data, "gone.bin").get()));
    put(file.get(), data, 0, kCrumb);
    settle(file.get());
    ASSERT_TRUE(file->save(true));
    write_file(file->metPath().c_str() + std::string(".bak"), {1});
    file->cancel();
    EXPECT_EQ(file->state(), PartialFile::kFailed);
    EXPECT_FALSE(file_exists(file->path().c_str()));
    EXPECT_FALSE(file_exists(file->metPath().c_str()));
    EXPECT_FALSE(file_exists(file->metPath().c_str() + std::string(".bak")));
    EXPECT_EQ(sink.removed(), 1);
    EXPECT_FALSE(file->save(true));
}

TEST_F(SingleFile, AFailedSaveIsReportedAndKeepsTheOldRecord) {
    Bytes data = pattern_bytes(2 * kCrumb, 13);
    Held<PartialFile> file(make());
    ASSERT_TRUE(file->create(record(data, "keep.bin").get()));
    ASSERT_TRUE(file->save(true));
    Bytes before = read_bytes(file->metPath().c_str());
    put(file.get(), data, 0, 100);
    // The save's temporary name is taken by a directory.
    std::filesystem::create_directory(temp("1.part.met.tmp"));
    output.takeText();
    EXPECT_FALSE(file->save(true));
    EXPECT_EQ(output.takeText(), "ERROR: partial info not saved: " + temp("1.part.met") + "\n");
    EXPECT_EQ(read_bytes(file->metPath().c_str()), before);
    std::filesystem::remove(temp("1.part.met.tmp"));
    EXPECT_TRUE(file->save(true));
    EXPECT_NE(read_bytes(file->metPath().c_str()), before);
}

TEST_F(SingleFile, EmptyFilesAndMissingServicesAreRefused) {
    Held<PartialFile> empty(make());
    EXPECT_FALSE(empty->create(record(Bytes(), "empty.bin").get()));
    EXPECT_EQ(output.takeText(), "ERROR: 0 bytes cannot be downloaded\n");
    resetDownloadServices();
    Held<PartialFile> file(new PartialFile(&owner));
    EXPECT_FALSE(file->create(record(pattern_bytes(10), "n.bin").get()));
    EXPECT_EQ(output.takeText(), "ERROR: download storage not started\n");
}

}  // namespace
}  // namespace storage_test
