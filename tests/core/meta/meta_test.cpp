#include "core/meta/meta.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/meta/meta_list.h"
#include "core/meta/special_tags.h"
#include "meta_fixture.h"
#include "v4ada/file/fs.h"

using namespace support;

namespace {

class MetaRecord : public MetaTest {
protected:
    // Name, size and a named integer.
    static void fill(Meta& meta, const char* name, int32_t size) {
        meta.setSpecial(ST_NAME, name);
        meta.setSpecial(ST_SIZE, &size);
        int32_t seven = 7;
        meta.set("pr", &seven, kTagInt);
    }
    static Bytes diskBytes(Meta& meta) {
        ByteWriter out;
        EXPECT_TRUE(meta.toDisk(out.file()));
        return out.bytes();
    }
    static Bytes intTag(const char* name, int32_t value) {
        std::string s(name);
        return cat({{3}, le16(uint16_t(s.size())), text(s), le32(uint32_t(value))});
    }
};

TEST_F(MetaRecord, EncodingIsTheCountAndTheTagsOnDiskAndWire) {
    Meta empty;
    EXPECT_EQ((Bytes{0, 0, 0, 0}), diskBytes(empty));
    EXPECT_EQ(4, empty.wireSize());

    Meta meta;
    fill(meta, "a.txt", 5);
    Bytes expected = cat({le32(3), {2}, le16(1), {1}, le16(5), text("a.txt"), {3}, le16(1), {2}, le32(5),
                          intTag("pr", 7)});
    EXPECT_EQ(expected, diskBytes(meta));
    ByteWriter wire;
    EXPECT_TRUE(meta.toNetwork(wire.file()));
    EXPECT_EQ(expected, wire.bytes());
    EXPECT_EQ(int(expected.size()), meta.wireSize());

    for (bool network : {false, true}) {
        Meta back;
        back.setSpecial(ST_NAME, "replaced");
        ByteReader in(expected);
        EXPECT_TRUE(network ? back.fromNetwork(in.file()) : back.fromDisk(in.file()));
        EXPECT_EQ(expected, diskBytes(back));
    }
}

TEST_F(MetaRecord, LookupsFindTheFirstTagOfAName) {
    Meta meta;
    int32_t one = 1, two = 2, three = 3;
    meta.addTag(MetaTag::makeTag(kTagInt, "dup", &one));
    meta.addTag(MetaTag::makeTag(kTagInt, "dup", &two));
    meta.addTag(MetaTag::makeTag(kTagString, "word", "text"));
    meta.addTag(MetaTag::makeTag(kTagInt, nullptr, &three));
    meta.set("dup", &three, kTagInt);
    EXPECT_EQ(3, meta.getInt("dup"));
    EXPECT_EQ(2, *static_cast<const int32_t*>(meta.tagAt(1)->value()));

    // Absent tags and tags of another kind read as absent.
    int32_t out = 99;
    EXPECT_EQ(0, meta.getInt("missing"));
    EXPECT_EQ(0, meta.getInt("word"));
    EXPECT_FALSE(meta.getIntOut("word", &out));
    EXPECT_EQ(99, out);
    EXPECT_EQ(0.0f, meta.getFloat("dup"));
    EXPECT_EQ(nullptr, meta.findTag("n"));
    char buffer[16] = "junk";
    meta.valueText("missing", buffer, sizeof buffer);
    EXPECT_STREQ("", buffer);

    meta.removeTag("dup");
    EXPECT_EQ(2, meta.getInt("dup"));
    meta.setSpecial(ST_VERSION, &three);
    EXPECT_EQ(3, meta.getSpecialInt(ST_VERSION));
    EXPECT_EQ(kTagInt, meta.findSpecial(ST_VERSION)->type());
    meta.removeSpecial(ST_VERSION);
    EXPECT_EQ(nullptr, meta.specialValueOf(ST_VERSION));
}

TEST_F(MetaRecord, SettingATagOfAnotherKindReplacesIt) {
    // A size tag that arrived as a string and a count that arrived as a blob.
    Bytes bytes = cat({le32(3), {2}, le16(1), {2}, le16(3), text("big"), intTag("a", 1), {7}, le16(2),
                       text("pr"), le32(2), {1, 2}});
    Meta meta;
    ByteReader in(bytes);
    ASSERT_TRUE(meta.fromDisk(in.file()));
    EXPECT_EQ(0, meta.getSpecialInt(ST_SIZE));
    int32_t size = 123456789, seven = 7;
    meta.setSpecial(ST_SIZE, &size);
    meta.set("pr", &seven, kTagInt);
    EXPECT_EQ(size, meta.getSpecialInt(ST_SIZE));
    EXPECT_EQ(7, meta.getInt("pr"));
    ASSERT_EQ(3, meta.tagCount());
    EXPECT_EQ(ST_SIZE, meta.tagAt(0)->specialId());
    EXPECT_STREQ("pr", meta.tagAt(2)->name().c_str());
}

TEST_F(MetaRecord, CopyFromClonesAndIsSafeOnItself) {
    Meta source, copy;
    fill(source, "b.bin", 9);
    copy.setSpecial(ST_NAME, "old");
    copy.copyFrom(&source);
    EXPECT_EQ(diskBytes(source), diskBytes(copy));
    copy.copyFrom(&copy);
    copy.copyFrom(nullptr);
    EXPECT_EQ(diskBytes(source), diskBytes(copy));
}

TEST_F(MetaRecord, SweepVisitsInOrderAndRemovesWhatItIsToldTo) {
    Meta meta;
    for (int32_t i = 0; i < 6; i++) {
        std::string name = "t" + std::to_string(i);
        meta.addTag(MetaTag::makeTag(kTagInt, name.c_str(), &i));
    }
    std::string seen;
    // Removes the first, two neighbours in the middle and the last.
    meta.sweepTags([&](MetaTag* tag) {
        seen += tag->name().c_str();
        int32_t v = *static_cast<const int32_t*>(tag->value());
        return v == 0 || v == 2 || v == 3 || v == 5;
    });
    EXPECT_EQ(seen, "t0t1t2t3t4t5");
    ASSERT_EQ(meta.tagCount(), 2);
    EXPECT_STREQ(meta.tagAt(0)->name().c_str(), "t1");
    EXPECT_STREQ(meta.tagAt(1)->name().c_str(), "t4");
    // The list keeps its tail: an append lands after the last tag left.
    int32_t nine = 9;
    meta.addTag(MetaTag::makeTag(kTagInt, "t9", &nine));
    EXPECT_STREQ(meta.tagAt(2)->name().c_str(), "t9");
    meta.sweepTags([](MetaTag*) { return true; });
    EXPECT_EQ(meta.tagCount(), 0);
}

TEST_F(MetaRecord, PrintShowsDisplayNamesAndValues) {
    Meta meta;
    fill(meta, "c.avi", 12);
    meta.addTag(MetaTag::makeTag(kTagString, "empty", nullptr));
    meta.print();
    EXPECT_EQ("Name: c.avi\nSize: 12\npr: 7\nempty: \n", console());
}

// Sizes and gap offsets of 2^31 and more are stored in signed tags bit for
// bit; the record shows them as the unsigned numbers they are.
TEST_F(MetaRecord, PrintShowsLargeSizesAndGapOffsetsUnsigned) {
    Meta meta;
    int32_t stored = static_cast<int32_t>(3000000000u);
    meta.addTag(MetaTag::makeSpecial(ST_SIZE, &stored));
    const char gapStart[] = {static_cast<char>(ST_GAP_START), '0', 0};
    const char gapEnd[] = {static_cast<char>(ST_GAP_END), '0', 0};
    meta.addTag(MetaTag::makeTag(kTagInt, gapStart, &stored));
    meta.addTag(MetaTag::makeTag(kTagInt, gapEnd, &stored));
    int32_t other = -5;
    meta.addTag(MetaTag::makeTag(kTagInt, "t", &other));
    meta.print();
    std::string out = console();
    EXPECT_NE(out.find("Size: 3000000000\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("-1294967296"), std::string::npos) << out;
    EXPECT_NE(out.find("t: -5\n"), std::string::npos) << out;
}

TEST_F(MetaRecord, BadTagsFailTheRecord) {
    Bytes three = cat({le32(3), intTag("a", 1), intTag("bb", 2), {9}, le16(1), text("n"), le32(0)});
    Meta meta;
    ByteReader in(three);
    EXPECT_FALSE(meta.fromDisk(in.file()));
    EXPECT_EQ(2, meta.tagCount());
    EXPECT_EQ("ERROR: unknown type MetaTag::makeTag() 9\nerror in tag from bytes\nERROR: Meta::fromDisk()\n",
              console());

    Meta wire;
    ByteReader again(three);
    EXPECT_FALSE(wire.fromNetwork(again.file()));
    EXPECT_EQ(2, wire.tagCount());
    EXPECT_EQ("ERROR: Meta::fromNetwork()\n", debug());

    // Data ending inside a tag: the file reader empties the record, the
    // wire reader keeps what it read.
    Bytes cut = cat({le32(2), intTag("a", 1), {3, 1, 0, 'n', 1}});
    ByteReader shortDisk(cut), shortWire(cut);
    EXPECT_FALSE(meta.fromDisk(shortDisk.file()));
    EXPECT_EQ(0, meta.tagCount());
    EXPECT_FALSE(wire.fromNetwork(shortWire.file()));
    EXPECT_EQ(1, wire.tagCount());

    // A count the data cannot hold fails at once.
    ByteReader huge(cat({le32(0x7FFFFFFF), intTag("a", 1)}));
    console();
    EXPECT_FALSE(meta.fromDisk(huge.file()));
    EXPECT_EQ("ERROR: Meta::fromDisk()\n", console());

    ByteReader negative(le32(0xFFFFFFFF));
    EXPECT_TRUE(meta.fromDisk(negative.file()));
    EXPECT_EQ(0, meta.tagCount());
}

// The list's destructor leaves its entries to their holders; these tests
// are the only holders.
class OwningList : public MetaList {
public:
    ~OwningList() override { clear(); }
};

class RecordList : public MetaRecord {
protected:
    static Meta* record(const char* name, int32_t size) {
        auto* meta = new Meta();
        fill(*meta, name, size);
        return meta;
    }
    static Bytes listBytes(MetaList& list) {
        ByteWriter out;
        EXPECT_TRUE(list.toDisk(out.file()));
        return out.bytes();
    }
    TempDir dir;
};

TEST_F(RecordList, FileAndWireForms) {
    OwningList empty;
    EXPECT_EQ((Bytes{14, 0, 0, 0, 0}), listBytes(empty));

    OwningList list;
    list.add(record("one", 1));
    list.add(record("two", 2));
    Bytes first = diskBytes(*list.at(0)), second = diskBytes(*list.at(1));
    EXPECT_EQ(cat({{14}, le32(2), first, second}), listBytes(list));
    ByteWriter wire;
    EXPECT_TRUE(list.toNetwork(wire.file()));
    EXPECT_EQ(cat({le32(2), first, second}), wire.bytes());
    EXPECT_EQ(int(wire.bytes().size()), list.wireSize());

    // Reading appends to what the list holds.
    OwningList back;
    back.add(record("kept", 0));
    ByteReader disk(listBytes(list));
    EXPECT_TRUE(back.fromDisk(disk.file()));
    ByteReader net(wire.bytes());
    EXPECT_TRUE(back.fromNetwork(net.file()));
    ASSERT_EQ(5, back.count());
    EXPECT_EQ(first, diskBytes(*back.at(3)));
    back.clear();

    for (uint8_t version : {13, 15}) {
        ByteReader in(cat({{version}, le32(0)}));
        EXPECT_FALSE(back.fromDisk(in.file()));
        EXPECT_EQ(1u, in.position());
    }
    ByteReader huge(cat({{14}, le32(1000000)}));
    EXPECT_FALSE(back.fromDisk(huge.file()));
    ByteReader hugeWire(le32(1000000));
    EXPECT_FALSE(back.fromNetwork(hugeWire.file()));
}

TEST_F(RecordList, ABadRecordStopsTheLoadAndIsReportedAsAFailure) {
    OwningList good;
    good.add(record("first", 1));
    Bytes bad = cat({le32(1), {9}, le16(1), text("n")});
    Bytes file = cat({{14}, le32(3), diskBytes(*good.at(0)), bad, diskBytes(*good.at(0))});
    std::string path = dir / "known.met";
    write_file(path, file);

    OwningList list;
    EXPECT_EQ(MetaListLoad::kFailed, list.load(path.c_str()));
    EXPECT_EQ(1, list.count());
    EXPECT_EQ("meta #:3, n=1\n", debug());
    EXPECT_EQ("ERROR: unknown type MetaTag::makeTag() 9\nerror in tag from bytes\nERROR: Meta::fromDisk()\n"
              "ERROR: MetaList::fromDisk()\n",
              console());

    // The owner puts the bad file aside before saving, so nothing is lost.
    OwnedString aside = fs_keep_aside(path.c_str());
    ASSERT_FALSE(aside.isNull());
    EXPECT_TRUE(list.save(path.c_str(), true));
    EXPECT_EQ(file, read_bytes(aside.c_str()));
    OwningList reread;
    EXPECT_EQ(MetaListLoad::kLoaded, reread.load(path.c_str()));
    EXPECT_EQ(1, reread.count());

    // Cut short inside the last record.
    write_file(path, Bytes(file.begin(), file.begin() + 12));
    OwningList cut;
    EXPECT_EQ(MetaListLoad::kFailed, cut.load(path.c_str()));

    OwningList none;
    EXPECT_EQ(MetaListLoad::kMissing, none.load((dir / "absent.met").c_str()));
}

TEST_F(RecordList, SaveReplacesTheFileOnlyWhenEverythingIsWritten) {
    std::string path = dir / "friend.met";
    OwningList list;
    list.add(record("one", 1));
    for (bool safe : {true, false}) {
        EXPECT_TRUE(list.save(path.c_str(), safe));
        EXPECT_EQ(listBytes(list), read_bytes(path));
    }
    Bytes saved = read_bytes(path);

    // A tag that cannot be encoded (name too long for its length field).
    std::string huge(70000, 'x');
    int32_t one = 1;
    list.add(record("two", 2));
    list.at(1)->addTag(MetaTag::makeTag(kTagInt, huge.c_str(), &one));
    EXPECT_FALSE(list.save(path.c_str(), true));
    EXPECT_EQ(saved, read_bytes(path));
    EXPECT_NE(std::string::npos, console().find("ERROR: Serializable::saveList()\n"));

    EXPECT_FALSE(list.save((dir / "no/such/dir/x.met").c_str(), true));
    EXPECT_FALSE(list.save((dir / "no/such/dir/x.met").c_str(), false));
}

TEST_F(RecordList, CopyFromReplacesAndRemoveAllUnlinks) {
    OwningList source, copy;
    source.add(record("a", 1));
    source.add(record("b", 2));
    copy.add(record("old", 3));
    copy.copyFrom(&source);
    ASSERT_EQ(2, copy.count());
    EXPECT_NE(source.at(0), copy.at(0));
    EXPECT_EQ(diskBytes(*source.at(1)), diskBytes(*copy.at(1)));
    copy.copyFrom(&copy);
    copy.copyFrom(nullptr);
    EXPECT_EQ(2, copy.count());

    MetaList some;
    Meta* shared = source.at(1);
    some.add(shared);
    source.removeAll(&some);
    EXPECT_EQ(1, source.count());
    some.removeAll(&some);
    EXPECT_EQ(0, some.count());
    delete shared;
    copy.clear();
    source.clear();
}

}  // namespace
