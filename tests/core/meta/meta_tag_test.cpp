#include "core/meta/meta_tag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "core/meta/special_tags.h"
#include "meta_fixture.h"
#include "v4ada/error/error.h"

using namespace support;

namespace {

using TagPtr = std::unique_ptr<MetaTag>;

Bytes hashBytes() {
    Bytes b;
    for (int i = 0; i < 16; i++) b.push_back(uint8_t(0xA0 + i));
    return b;
}

struct EncodingCase {
    const char* label;
    std::function<MetaTag*()> make;
    Bytes encoded;
    int specialId;      // after reading back
    const char* text;   // valueText after reading back; null: buffer untouched
};

class MetaTagEncoding : public MetaTest {};

TEST_F(MetaTagEncoding, EveryKindHasOneExactEncodingForDiskAndWire) {
    const Bytes n = cat({le16(1), text("n")});
    Bytes hash = hashBytes();
    int32_t i32 = 0x01020304;
    float f = 5.0f;
    uint8_t yes = 1;
    int64_t minusThree = -3;
    int32_t size = 1000;
    uint8_t blobBytes[] = {0xAA, 0xBB, 0xCC};
    MetaBlob blob{3, blobBytes};

    const EncodingCase cases[] = {
        {"unnamed hash", [&] { return MetaTag::makeTag(kTagHash, nullptr, hash.data()); },
         cat({{1}, n, hash}), 0, "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"},
        {"named string", [&] { return MetaTag::makeTag(kTagString, "title", "abc"); },
         cat({{2}, le16(5), text("title"), le16(3), text("abc")}), 0, "abc"},
        {"unnamed int", [&] { return MetaTag::makeTag(kTagInt, nullptr, &i32); },
         cat({{3}, n, {4, 3, 2, 1}}), 0, "16909060"},
        {"float", [&] { return MetaTag::makeTag(kTagFloat, "ff", &f); },
         cat({{4}, le16(2), text("ff"), {0, 0, 0xA0, 0x40}}), 0, "5.000000"},
        {"bool", [&] { return MetaTag::makeTag(kTagBool, nullptr, &yes); }, cat({{5}, n, {1}}), 0, "true"},
        {"bit array", [&] {
             BoolArray bits(10);
             bits.set(0, true);
             bits.set(9, true);
             return MetaTag::makeTag(kTagBoolArray, nullptr, &bits);
         },
         cat({{6}, n, {0x0A, 0, 0x01, 0x02}}), 0, nullptr},
        {"empty bit array", [&] { return MetaTag::makeTag(kTagBoolArray, nullptr, nullptr); },
         cat({{6}, n, {0, 0}}), 0, nullptr},
        {"blob", [&] { return MetaTag::makeTag(kTagBlob, nullptr, &blob); },
         cat({{7}, n, le32(3), {0xAA, 0xBB, 0xCC}}), 0, nullptr},
        {"empty blob", [&] { return MetaTag::makeTag(kTagBlob, nullptr, nullptr); }, cat({{7}, n, le32(0)}), 0,
         nullptr},
        {"64-bit", [&] { return MetaTag::makeTag(kTag64, nullptr, &minusThree); },
         cat({{8}, n, le64(uint64_t(-3))}), 0, "-3"},
        {"special size", [&] { return MetaTag::makeSpecial(ST_SIZE, &size); },
         cat({{3}, le16(1), {2}, le32(1000)}), ST_SIZE, "1000"},
        {"special name", [&] { return MetaTag::makeSpecial(ST_NAME, "x.txt"); },
         cat({{2}, le16(1), {1}, le16(5), text("x.txt")}), ST_NAME, "x.txt"},
        {"special part hash", [&] { return MetaTag::makeSpecial(ST_PART_HASH, hash.data()); },
         cat({{1}, le16(1), {7}, hash}), ST_PART_HASH, "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"},
    };

    for (const EncodingCase& c : cases) {
        SCOPED_TRACE(c.label);
        TagPtr tag(c.make());
        ASSERT_NE(nullptr, tag);
        ByteWriter disk, wire;
        EXPECT_TRUE(tag->toDisk(disk.file()));
        EXPECT_TRUE(tag->toNetwork(wire.file()));
        EXPECT_EQ(c.encoded, disk.bytes());
        EXPECT_EQ(c.encoded, wire.bytes());
        EXPECT_EQ(int(c.encoded.size()), tag->wireSize());

        TagPtr copy(tag->clone());
        ByteWriter cloned;
        copy->toBytes(cloned.file());
        EXPECT_EQ(c.encoded, cloned.bytes());
        EXPECT_EQ(tag->specialId(), copy->specialId());

        ByteReader in(c.encoded);
        TagPtr back(MetaTag::makeTagFromBytes(in.file()));
        ASSERT_NE(nullptr, back);
        EXPECT_EQ(c.encoded.size(), in.position());
        EXPECT_EQ(c.specialId, back->specialId());
        char buffer[128] = "untouched";
        const char* shown = back->valueText(buffer, sizeof buffer);
        EXPECT_STREQ(c.text ? c.text : "untouched", shown);
        ByteWriter again;
        back->toBytes(again.file());
        EXPECT_EQ(c.encoded, again.bytes());
    }
    EXPECT_EQ("", console());
}

TEST_F(MetaTagEncoding, NamesOfOneCharacterAreSpecialIds) {
    struct Case {
        Bytes name;
        int id;
        bool named;
        const char* display;
    } cases[] = {
        {text("n"), 0, false, ""},          // the unnamed marker, also when a peer sends it
        {{7}, ST_PART_HASH, true, "Part Hash"},
        {text("x"), 120, true, "x"},        // beyond the table: shown by its own name
        {{0xFF}, -1, true, "\xFF"},
        {{}, 0, true, ""},
        {text("nn"), 0, true, "nn"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.display);
        ByteReader in(cat({{5}, le16(uint16_t(c.name.size())), c.name, {1}}));
        TagPtr tag(MetaTag::makeTagFromBytes(in.file()));
        ASSERT_NE(nullptr, tag);
        EXPECT_EQ(c.id, tag->specialId());
        EXPECT_EQ(c.named, !tag->name().isNull());
        EXPECT_STREQ(c.display, tag->displayName());
    }
}

TEST_F(MetaTagEncoding, LongNamesAndStringsAreCutAndTheStreamStaysInStep) {
    std::string longName(150, 'a');
    std::string longText(300, 'b');
    int32_t seven = 7;
    ByteWriter out;
    TagPtr(MetaTag::makeTag(kTagString, longName.c_str(), longText.c_str()))->toBytes(out.file());
    // A string is cut when set, so write an over-long one by hand as well.
    Bytes bytes = cat({out.bytes(), {2}, le16(2), text("tt"), le16(300), text(longText)});
    ByteWriter tail;
    TagPtr(MetaTag::makeTag(kTagInt, "next", &seven))->toBytes(tail.file());
    bytes = cat({bytes, tail.bytes()});

    ByteReader in(bytes);
    TagPtr first(MetaTag::makeTagFromBytes(in.file()));
    TagPtr second(MetaTag::makeTagFromBytes(in.file()));
    TagPtr third(MetaTag::makeTagFromBytes(in.file()));
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(std::string(100, 'a'), first->name().c_str());
    EXPECT_EQ(std::string(128, 'b'), static_cast<const char*>(first->value()));
    EXPECT_EQ(std::string(128, 'b'), static_cast<const char*>(second->value()));
    EXPECT_STREQ("next", third->name().c_str());
    EXPECT_EQ(7, *static_cast<const int32_t*>(third->value()));
    EXPECT_TRUE(in.file()->atEnd());
}

TEST_F(MetaTagEncoding, BooleanReadsAnyNonZeroAsTrue) {
    ByteReader in(Bytes{5, 1, 0, 'n', 0x05});
    TagPtr tag(MetaTag::makeTagFromBytes(in.file()));
    ASSERT_NE(nullptr, tag);
    ByteWriter out;
    tag->toBytes(out.file());
    EXPECT_EQ((Bytes{5, 1, 0, 'n', 0x01}), out.bytes());
}

TEST_F(MetaTagEncoding, MalformedTagsFailWithTheirMessages) {
    const Bytes n = cat({le16(1), text("n")});
    struct Case {
        const char* label;
        Bytes bytes;
        const char* message;
    } cases[] = {
        {"type 9", cat({{9}, n, le32(1)}), "ERROR: unknown type MetaTag::makeTag() 9\nerror in tag from bytes\n"},
        {"type 0", cat({{0}, n}), "ERROR: unknown type MetaTag::makeTag() 0\nerror in tag from bytes\n"},
        {"short blob", cat({{7}, n, le32(16), {0xAA}}), "error in tag from bytes\n"},
        {"huge blob", cat({{7}, n, le32(0xFFFFFFFF), Bytes(64, 0)}), "error in tag from bytes\n"},
        {"name 0xFFFF", cat({{3}, le16(0xFFFF), le32(1)}), "error in tag from bytes\n"},
        {"name past the end", cat({{3}, le16(80), text("abc")}), "error in tag from bytes\n"},
        {"string past the end", cat({{2}, n, le16(40), text("abc")}), "error in tag from bytes\n"},
        {"string 0xFFFF", cat({{2}, n, le16(0xFFFF), text("abc")}), "error in tag from bytes\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ByteReader in(c.bytes);
        EXPECT_EQ(nullptr, MetaTag::makeTagFromBytes(in.file()));
        EXPECT_EQ(c.message, console());
    }
}

TEST_F(MetaTagEncoding, DataEndingInsideAFixedValueRaises) {
    for (const Bytes& bytes : {Bytes{}, Bytes{3, 1, 0, 'n', 1, 2}, Bytes{1, 1, 0, 'n', 1}, Bytes{8, 1, 0, 'n'}}) {
        ByteReader in(bytes);
        EXPECT_THROW(MetaTag::makeTagFromBytes(in.file()), i4_err);
    }
}

TEST_F(MetaTagEncoding, WriteFailuresAreReported) {
    int32_t one = 1;
    uint8_t small[2];
    i4_ram_file_class tiny(small, sizeof small, 0);
    TagPtr number(MetaTag::makeTag(kTagInt, "count", &one));
    EXPECT_FALSE(number->toBytes(&tiny));
    EXPECT_EQ("**I4 error in MetaTag::toBytes()\n", debug());

    uint8_t header[4];  // type and the name "n" fit, the text does not
    i4_ram_file_class room(header, sizeof header, 0);
    TagPtr words(MetaTag::makeTag(kTagString, nullptr, "words"));
    EXPECT_FALSE(words->toBytes(&room));
    EXPECT_EQ("**I4 error in MetaTagString::toBytes()\n", debug());
}

TEST_F(MetaTagEncoding, ValuesAndTheirTexts) {
    TagPtr made(MetaTag::makeTag(kTagString, "s", nullptr));
    char buffer[8] = "keep";
    EXPECT_EQ(nullptr, made->valueText(buffer, sizeof buffer));
    EXPECT_STREQ("keep", buffer);

    std::string longText(300, 'z');
    made->setValue(longText.c_str());
    EXPECT_EQ(128u, strlen(static_cast<const char*>(made->value())));
    made->setValue("abcdef");
    EXPECT_STREQ("abc", made->valueText(buffer, 4));

    TagPtr flag(MetaTag::makeTag(kTagBool, nullptr, nullptr));
    EXPECT_STREQ("false", flag->valueText(buffer, sizeof buffer));

    EXPECT_EQ(nullptr, MetaTag::makeTag(12, "x", nullptr));
    EXPECT_EQ("ERROR: unknown type MetaTag::makeTag() 12\n", console());
}

}  // namespace
