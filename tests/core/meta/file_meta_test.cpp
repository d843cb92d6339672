#include "core/meta/file_meta.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>

#include "core/meta/file_list.h"
#include "core/meta/special_tags.h"
#include "meta_fixture.h"
#include "support/part_digests.h"
#include "v4ada/containers/ll.h"
#include "v4ada/digest/md4.h"
#include "v4ada/error/error.h"

using namespace support;

namespace {

constexpr uint32_t kPart = 9728000;
constexpr uint32_t kCrumb = 486400;

Bytes pattern(size_t n) {
    Bytes data(n);
    for (size_t i = 0; i < n; i++) data[i] = uint8_t(i * 7 + i / 4093);
    return data;
}

using Expected = PartDigests;

Bytes hashOf(const FileMeta& meta) { return Bytes(meta.fileHash().bytes(), meta.fileHash().bytes() + 16); }

uint64_t le64Of(const Bytes& b) {
    uint64_t v = 0;
    for (int k = 7; k >= 0; k--) v = (v << 8) | b[k];
    return v;
}

class FileRecord : public MetaTest {
protected:
    static Bytes bytesOf(std::function<bool(i4_file*)> write) {
        ByteWriter out;
        EXPECT_TRUE(write(out.file()));
        return out.bytes();
    }
    // Hashes a file holding data to the end.
    std::unique_ptr<FileMeta> hashed(const std::string& name, const Bytes& data, int* steps = nullptr) {
        std::string path = dir / name;
        write_file(path, data);
        HashContext context;
        auto meta = std::make_unique<FileMeta>(path.c_str(), context);
        int count = 1;
        while (meta->hashStep(context)) count++;
        if (steps) *steps = count;
        return meta;
    }
    TempDir dir;
};

TEST_F(FileRecord, HashingGivesThePartCrumbAndFileHashesAndTheirSections) {
    const size_t sizes[] = {0, kCrumb, kCrumb + 1, kPart, kPart + 1, 2 * size_t(kPart) + 1000};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        Bytes data = pattern(size);
        Expected expected(data);
        int steps = 0;
        auto meta = hashed("data.bin", data, &steps);
        EXPECT_EQ(std::max<size_t>(1, expected.crumbs.size()), size_t(steps));
        EXPECT_EQ(size, meta->size());
        EXPECT_STREQ("data.bin", meta->name());
        EXPECT_EQ(expected.fileHash, hashOf(*meta));
        EXPECT_EQ(expected.parts.size(), meta->partCount());
        EXPECT_EQ(expected.crumbs.size(), meta->crumbCount());
        EXPECT_TRUE(meta->partHashesComplete());
        EXPECT_TRUE(meta->crumbHashesComplete());
        for (uint32_t i = 0; i < meta->partCount(); i++)
            EXPECT_EQ(expected.parts[i], Bytes(meta->partHash(i), meta->partHash(i) + 16));
        for (uint32_t i = 0; expected.crumbs.size() >= 2 && i < meta->crumbCount(); i++)
            EXPECT_EQ(le64Of(expected.crumbs[i]), meta->crumbHash(i));

        Bytes sections = bytesOf([&](i4_file* f) { return meta->writeHashSets(f); });
        EXPECT_EQ(expected.hashSets(), sections);
        EXPECT_EQ(int(sections.size()), meta->hashSetsSize());

        // The file form reads back whole, without the path.
        meta->setModificationTime(1234567);
        Bytes disk = bytesOf([&](i4_file* f) { return meta->toDisk(f); });
        EXPECT_EQ(cat({{2}, le32(1234567), expected.fileHash}), Bytes(disk.begin(), disk.begin() + 21));
        FileMeta back;
        ByteReader in(disk);
        EXPECT_TRUE(back.fromDisk(in.file()));
        EXPECT_TRUE(in.file()->atEnd());
        EXPECT_TRUE(back.path().isEmpty());
        EXPECT_EQ(disk, bytesOf([&](i4_file* f) { return back.toDisk(f); }));
        EXPECT_EQ(sections, bytesOf([&](i4_file* f) { return back.writeHashSets(f); }));
    }
}

TEST_F(FileRecord, CountsAreComputedWideForTheLargestSizes) {
    FileMeta meta;
    meta.setSize(3000000000u);
    EXPECT_EQ(309u, meta.partCount());
    EXPECT_EQ(6168u, meta.crumbCount());
    EXPECT_EQ(2, meta.hashSetsSize());
    EXPECT_EQ((Bytes{0, 0}), bytesOf([&](i4_file* f) { return meta.writeHashSets(f); }));
    EXPECT_FALSE(meta.partHashesComplete());
    EXPECT_EQ(nullptr, meta.partHash(0));
    EXPECT_EQ(0u, meta.crumbHash(0));
    meta.setSize(0xFFFFFFFFu);
    EXPECT_EQ(442u, meta.partCount());
    EXPECT_EQ(8831u, meta.crumbCount());
}

TEST_F(FileRecord, PartHashesThatDoNotGiveTheFileHashAreDroppedWithTheirCrumbs) {
    Bytes data = pattern(kPart + 1);
    Expected expected(data);
    auto meta = hashed("f", data);
    Bytes good = bytesOf([&](i4_file* f) { return meta->toDisk(f); });
    Bytes bad = good;
    bad[bad.size() - 1 - 21 * 8 - 1 - 16] ^= 0xFF;  // inside the second part hash

    ByteReader in(cat({bad, good}));
    FileMeta first, second;
    EXPECT_TRUE(first.fromDisk(in.file()));  // the record reads, unverified
    EXPECT_FALSE(first.partHashesComplete());
    EXPECT_FALSE(first.crumbHashesComplete());
    EXPECT_EQ(hashOf(*meta), hashOf(first));
    EXPECT_TRUE(second.fromDisk(in.file()));
    EXPECT_TRUE(second.partHashesComplete());
    EXPECT_TRUE(second.crumbHashesComplete());

    // A hash-set answer without part hashes gives no crumb hashes either.
    FileMeta answer;
    answer.setSize(kPart + 1);
    answer.setFileHash(meta->fileHash());
    Bytes crumbsOnly = cat({{0}, {1}, Bytes(21 * 8, 0x11)});
    ByteReader reply(crumbsOnly);
    EXPECT_FALSE(answer.readHashSets(reply.file()));
    EXPECT_TRUE(reply.file()->atEnd());
    EXPECT_FALSE(answer.crumbHashesComplete());
}

TEST_F(FileRecord, LegacyRecordsAreRead) {
    Bytes data = pattern(kPart + 1);
    Expected expected(data);
    FileMeta tags;
    tags.setName("old.bin");
    tags.setSize(kPart + 1);
    Bytes tagBytes;
    {
        ByteWriter out;
        tags.Meta::toDisk(out.file());
        tagBytes = out.bytes();
    }
    Bytes partList = cat({le16(2), expected.parts[0], expected.parts[1]});
    struct Case {
        const char* label;
        uint32_t time;
        Bytes list;
        bool kept;
    } cases[] = {
        {"verified list", 77, partList, true},
        {"first byte 2", 0x01000002, partList, true},
        {"empty list", 77, le16(0), false},
        {"wrong count", 77, cat({le16(3), expected.parts[0], expected.parts[1], expected.parts[0]}), false},
        {"wrong hashes", 77, cat({le16(2), expected.parts[1], expected.parts[0]}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bytes record = cat({le32(c.time), expected.fileHash, c.list, tagBytes});
        ByteReader in(cat({record, record}));
        for (int copy = 0; copy < 2; copy++) {
            FileMeta meta;
            ASSERT_TRUE(meta.fromDisk(in.file()));
            EXPECT_EQ(c.time, meta.modificationTime());
            EXPECT_STREQ("old.bin", meta.name());
            EXPECT_EQ(expected.fileHash, hashOf(meta));
            EXPECT_EQ(c.kept, meta.partHashesComplete());
        }
        EXPECT_TRUE(in.file()->atEnd());
        console();
    }

    FileMeta alone;
    alone.setSize(kPart + 1);
    alone.setFileHash(tags.fileHash());
    ByteReader list(partList);
    EXPECT_FALSE(alone.readLegacyParts(list.file()));  // the zero hash does not match
}

TEST_F(FileRecord, WireFormAndItsSize) {
    FileMeta meta;
    meta.setName("w.txt");
    meta.setSize(5);
    UniqueID hash;
    hash.setBit(0, true);
    meta.setFileHash(hash);
    Bytes tags = bytesOf([&](i4_file* f) { return meta.Meta::toNetwork(f); });
    Bytes wire = bytesOf([&](i4_file* f) { return meta.toNetwork(f); });
    EXPECT_EQ(cat({hashOf(meta), le32(0), le16(0), tags}), wire);
    EXPECT_EQ(int(wire.size()), meta.wireSize());

    Bytes withReserved = cat({hashOf(meta), le32(0xDEADBEEF), le16(0xFFFF), tags});
    ByteReader in(withReserved);
    FileMeta back;
    EXPECT_TRUE(back.fromNetwork(in.file()));
    EXPECT_EQ(wire, bytesOf([&](i4_file* f) { return back.toNetwork(f); }));

    ByteReader cut(Bytes(wire.begin(), wire.begin() + 10));
    EXPECT_FALSE(back.fromNetwork(cut.file()));
}

TEST_F(FileRecord, LocalFilesAreNamedByTheLastSlashAndCheckedBeforeHashing) {
    std::filesystem::create_directories(dir / "sub");
    for (const char* name : {"sub/README", "sub/.profile", "sub/a\\b.txt"}) {
        auto meta = hashed(name, Bytes{1, 2, 3});
        std::string expected = std::string(name).substr(4);
        EXPECT_EQ(expected, meta->name());
        EXPECT_EQ(dir / name, meta->path().c_str());
    }

    HashContext context;
    // A FIFO without a writer (put where a checked file was) must not hold
    // the open; a directory is no file either.
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    for (const char* name : {"absent", "pipe", "sub"}) {
        try {
            FileMeta missing((dir / name).c_str(), context);
            FAIL() << "no error: " << name;
        } catch (const i4_err& e) {
            EXPECT_STREQ("couldn't open", e.message()) << name;
        }
    }

    std::string big = dir / "big";
    write_file(big, Bytes{});
    std::filesystem::resize_file(big, 0x100000000ull);  // sparse
    try {
        FileMeta tooBig(big.c_str(), context);
        FAIL() << "no error";
    } catch (const i4_err& e) {
        EXPECT_STREQ("file of 4 GiB or more", e.message());
    }
}

TEST_F(FileRecord, CopiesAndLocalTags) {
    auto meta = hashed("copy.bin", pattern(kPart + 1));
    int32_t prio = 2;
    meta->setSpecial(ST_UPLOAD_PRIORITY, &prio);
    meta->set("# Sent", &prio, kTagInt);
    meta->set("Last Seen Complete", &prio, kTagInt);
    meta->setModificationTime(9);

    FileMeta copy;
    copy.copyFrom(meta.get());
    copy.copyFrom(&copy);
    EXPECT_EQ(bytesOf([&](i4_file* f) { return meta->toDisk(f); }), bytesOf([&](i4_file* f) { return copy.toDisk(f); }));
    EXPECT_STREQ(meta->path().c_str(), copy.path().c_str());
    EXPECT_TRUE(copy.matches(kPart + 1, 9, "copy.bin"));
    EXPECT_FALSE(copy.matches(kPart + 1, 9, "Copy.bin"));

    console();
    copy.print(true);
    std::string shown = console();
    EXPECT_NE(std::string::npos, shown.find("Name: copy.bin\n"));
    EXPECT_NE(std::string::npos, shown.find("Path: " + (dir / "copy.bin") + "\n"));
    EXPECT_NE(std::string::npos, shown.find("PartHash: 1) "));
    EXPECT_NE(std::string::npos, shown.find("Crumb: 20) "));
    EXPECT_EQ(std::string::npos, shown.find("Crumb: 21) "));

    copy.stripLocalTags();
    EXPECT_EQ(2, copy.tagCount());
    FileMeta unnamed;
    EXPECT_STREQ("????", unnamed.name());
    EXPECT_EQ(1, unnamed.tagCount());
}

TEST_F(FileRecord, PrintShowsControlBytesOfNamesAndPathsEscaped) {
    // A name from a peer or a path from disk cannot forge a line.
    FileMeta record;
    record.setName("a\nPath: forged");
    record.setPath("/x\ty\x1b[2J");
    console();
    record.print(false);
    std::string shown = console();
    EXPECT_NE(std::string::npos, shown.find("Name: a\\nPath: forged\n")) << shown;
    EXPECT_NE(std::string::npos, shown.find("Path: /x\\ty\\x1b[2J\n")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("\nPath: forged")) << shown;
}

TEST_F(FileRecord, SetPartHashesNeedsExactlyThePartCount) {
    FileMeta meta;
    meta.setSize(2 * kPart);
    UniqueID a, b;
    a.setBit(1, true);
    b.setBit(2, true);
    LL list;
    list.append(&a);
    meta.setPartHashes(&list);
    EXPECT_FALSE(meta.partHashesComplete());
    list.append(&b);
    meta.setPartHashes(&list);
    ASSERT_TRUE(meta.partHashesComplete());
    EXPECT_EQ(0, memcmp(b.bytes(), meta.partHash(1), 16));
}

class FileRecords : public FileRecord {};

TEST_F(FileRecords, ListRefusesDuplicatesAndFinds) {
    FileList list;
    auto* one = new FileMeta();
    one->setName("one");
    one->setSize(10);
    one->setModificationTime(5);
    UniqueID hash;
    hash.setBit(3, true);
    one->setFileHash(hash);
    FileMeta same;
    same.setFileHash(hash);
    auto* other = new FileMeta();
    other->setName("other");

    EXPECT_FALSE(list.add(one));
    EXPECT_TRUE(list.add(&same));
    EXPECT_FALSE(list.add(other));
    EXPECT_EQ(2, list.count());
    EXPECT_EQ(one, list.findByHash(hash.bytes()));
    EXPECT_EQ(other, list.findByHash(UniqueID().bytes()));
    EXPECT_EQ(one, list.findBySizeTimeName(10, 5, "one"));
    EXPECT_EQ(nullptr, list.findBySizeTimeName(10, 6, "one"));

    std::string path = dir / "known.met";
    EXPECT_TRUE(list.save(path.c_str(), true));
    FileList back;
    EXPECT_EQ(MetaListLoad::kLoaded, back.load(path.c_str()));
    ASSERT_EQ(2, back.count());
    EXPECT_NE(nullptr, dynamic_cast<FileMeta*>(back.at(0)));
    EXPECT_NE(nullptr, back.findBySizeTimeName(10, 5, "one"));

    FileList copy;
    copy.copyFrom(&list);
    EXPECT_NE(nullptr, copy.findBySizeTimeName(10, 5, "one"));
    copy.clear();
    back.clear();
    list.clear();
}

}  // namespace
