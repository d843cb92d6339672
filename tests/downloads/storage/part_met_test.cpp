#include "downloads/storage/part_met.h"

#include <gtest/gtest.h>
#include <utime.h>

#include <string>
#include <vector>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "downloads/storage/partial_file_fixture.h"

namespace storage_test {
namespace {

// Byte builders following the record layout, apart from the codec.
Bytes intTag(const std::string& name, int32_t v) {
    return cat({u8(3), le16(uint16_t(name.size())), text(name), le32(uint32_t(v))});
}
Bytes stringTag(const std::string& name, const std::string& value) {
    return cat({u8(2), le16(uint16_t(name.size())), text(name), counted_text(value)});
}
std::string special(int id) { return std::string(1, char(id)); }
std::string gapName(int which, int k) { return std::string(1, char(which)) + std::to_string(k); }

Bytes recordBytes(uint8_t version, uint32_t time, const Bytes& hash, const std::vector<Bytes>& tags,
                  const Bytes& sets = {}) {
    Bytes out = cat({u8(version), u8(2), le32(time), hash, le32(uint32_t(tags.size()))});
    for (const Bytes& tag : tags) out = cat({out, tag});
    return cat({out, sets});
}

class PartMet : public PartialFileTest {};

TEST_F(PartMet, SingleFileRecordHasTheLayoutByteForByte) {
    Bytes data = pattern_bytes(1000, 21);
    owner.prio = 3;
    Held<PartialFile> file(new PartialFile(&owner));
    ASSERT_TRUE(file->create(record(data, "a.bin").get()));
    put(file.get(), data, 100, 300);
    put(file.get(), data, 600, 700);
    struct utimbuf times = {1700000000, 1700000123};
    ASSERT_EQ(::utime(file->path().c_str(), &times), 0);
    ASSERT_TRUE(file->save(true));

    Bytes expected = recordBytes(224, 1700000123, PartDigests(data).fileHash,
                                 {stringTag(special(ST_NAME), "a.bin"), intTag(special(ST_SIZE), 1000),
                                  intTag(special(ST_PART_TRANS), 300), stringTag(special(ST_TEMP_FILE_NAME), "1.part"),
                                  intTag(special(ST_DOWNLOAD_PRIORITY), 3), intTag(special(ST_STATE), 0),
                                  intTag(gapName(9, 0), 0), intTag(gapName(10, 0), 100), intTag(gapName(9, 1), 300),
                                  intTag(gapName(10, 1), 600), intTag(gapName(9, 2), 700),
                                  intTag(gapName(10, 2), 1000)});
    EXPECT_EQ(read_bytes(file->metPath().c_str()), expected);
}

// A record as a loader meets it: 1000 bytes, data file 3.part present.
class HostileRecord : public PartialFileTest {
protected:
    Bytes data = pattern_bytes(1000, 22);
    Bytes hash = PartDigests(data).fileHash;

    std::vector<Bytes> base(int32_t size = 1000) {
        return {stringTag(special(ST_NAME), "h.bin"), intTag(special(ST_SIZE), size),
                stringTag(special(ST_TEMP_FILE_NAME), "3.part")};
    }
    // Decodes the bytes and loads them; the partial file or null.
    PartialFile* load(const Bytes& bytes, std::string* reason = nullptr) {
        write_file(settings.temp + "/3.part", data);
        ByteReader in(bytes);
        FileMeta meta;
        uint8_t version = 0;
        OwnedString why;
        if (!decodePartMet(in.file(), &version, meta, why)) {
            if (reason) *reason = why.c_str();
            return nullptr;
        }
        meta.setPath((settings.temp + "/3.part.met").c_str());
        auto* file = new PartialFile(&owner);
        file->addRef();
        if (file->load(&meta, 0)) return file;
        file->release();
        return nullptr;
    }
};

TEST_F(HostileRecord, GapsAreClippedSortedAndMergedAndStopAtAMissingPair) {
    struct Case {
        const char* what;
        std::vector<Bytes> gaps;
        std::vector<Gap> loaded;
    } cases[] = {
        {"pairs 0, 1 and 3", {intTag(gapName(9, 0), 10), intTag(gapName(10, 0), 20), intTag(gapName(9, 1), 30),
                              intTag(gapName(10, 1), 40), intTag(gapName(9, 3), 50), intTag(gapName(10, 3), 60)},
         {{10, 20}, {30, 40}}},
        {"start after end", {intTag(gapName(9, 0), 500), intTag(gapName(10, 0), 100)}, {}},
        {"end past the size", {intTag(gapName(9, 0), 900), intTag(gapName(10, 0), 5000)}, {{900, 1000}}},
        {"negative start", {intTag(gapName(9, 0), -5), intTag(gapName(10, 0), 200)}, {}},
        {"overlapping, out of order", {intTag(gapName(9, 0), 200), intTag(gapName(10, 0), 500),
                                       intTag(gapName(9, 1), 0), intTag(gapName(10, 1), 300)},
         {{0, 500}}},
        {"end without start", {intTag(gapName(10, 0), 100)}, {}},
        {"gap of another kind", {stringTag(gapName(9, 0), "10"), intTag(gapName(10, 0), 100)}, {}},
    };
    for (const Case& c : cases) {
        std::vector<Bytes> tags = base();
        tags.insert(tags.end(), c.gaps.begin(), c.gaps.end());
        PartialFile* file = load(recordBytes(224, 0, hash, tags));
        ASSERT_NE(file, nullptr) << c.what;
        EXPECT_EQ(file->gaps(), c.loaded) << c.what;
        // No gap tag outlives the load: a later save writes only the list.
        file->withMeta([&](FileMeta& meta) {
            for (int i = 0; i < meta.tagCount(); i++) EXPECT_FALSE(isGapTagName(meta.tagAt(i)->name().c_str())) << c.what;
        });
        file->release();
    }
}

TEST_F(HostileRecord, BytesDoneReadsBackUnsigned) {
    std::vector<Bytes> tags = base();
    tags.push_back(intTag(special(ST_PART_TRANS), -1));
    PartialFile* file = load(recordBytes(224, 0, hash, tags));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->bytesDone(), 4294967295);
    file->release();
}

TEST_F(HostileRecord, DataFileNameMustStayInTheDirectory) {
    for (const char* name : {"../3.part", ".", "..", "sub/3.part", "/etc/passwd"}) {
        std::vector<Bytes> tags = base();
        tags[2] = stringTag(special(ST_TEMP_FILE_NAME), name);
        output.takeText();
        EXPECT_EQ(load(recordBytes(224, 0, hash, tags)), nullptr) << name;
        EXPECT_EQ(output.takeText(), std::string("ERROR: record names no plain data file: ") + name + "\n");
    }
}

TEST_F(HostileRecord, UnreadableRecordsFailWithAReason) {
    std::string reason;
    EXPECT_EQ(load(recordBytes(7, 0, hash, base()), &reason), nullptr);
    EXPECT_EQ(reason, "not a partial download record (version 7)");
    Bytes whole = recordBytes(224, 0, hash, base());
    EXPECT_EQ(load(Bytes(whole.begin(), whole.begin() + 30), &reason), nullptr);
    EXPECT_EQ(reason, "record does not read");
    EXPECT_EQ(load(Bytes{}, &reason), nullptr);
    EXPECT_EQ(reason, "empty record");
    EXPECT_EQ(load(recordBytes(224, 0, hash, base(0))), nullptr);
}

TEST(PartMetNames, GapAndModTagNames) {
    EXPECT_EQ(std::string(gapTagName(false, 12).c_str()), "\x09" "12");
    EXPECT_EQ(std::string(gapTagName(true, 0).c_str()), "\x0a" "0");
    EXPECT_TRUE(isGapTagName("\x09" "7"));
    EXPECT_FALSE(isGapTagName("\x09"));
    EXPECT_FALSE(isGapTagName("\x09" "7x"));
    EXPECT_FALSE(isGapTagName("\x09" "1234567890"));
    EXPECT_STREQ(modTagName(3).c_str(), "3mod");
    EXPECT_EQ(numericPrefix("17.part"), 17u);
    EXPECT_EQ(numericPrefix("x17"), 0u);
    EXPECT_EQ(numericPrefix("99999999999.part"), 0u);
}

}  // namespace
}  // namespace storage_test

namespace storage_test {
namespace {

// The fuzz target's seeds stay records of both versions that read whole.
TEST(PartMetSeeds, BothVersionsDecode) {
    ProcessObjects tags{ProcessObjects::kSpecialTags};
    struct Seed {
        const char* name;
        uint8_t version;
        size_t gaps;
    } seeds[] = {{"single_file", 224, 2}, {"part_directory", 225, 1}};
    for (const Seed& seed : seeds) {
        Bytes bytes = read_bytes(std::string(TANDREL_SOURCE_DIR) + "/fuzz/corpus/part_met/" + seed.name);
        ByteReader in(bytes);
        FileMeta meta;
        uint8_t version = 0;
        OwnedString reason;
        ASSERT_TRUE(decodePartMet(in.file(), &version, meta, reason)) << seed.name << ": " << reason.c_str();
        EXPECT_EQ(version, seed.version);
        EXPECT_TRUE(in.file()->atEnd());
        GapList gaps;
        EXPECT_EQ(takeGapTags(meta, meta.size(), gaps), seed.gaps);
        EXPECT_EQ(meta.partHashesComplete() && meta.crumbHashesComplete(), true) << seed.name;
    }
}

}  // namespace
}  // namespace storage_test
