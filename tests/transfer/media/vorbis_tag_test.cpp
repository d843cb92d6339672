#include "transfer/media/vorbis_tag.h"

#include <gtest/gtest.h>

#include "media_fixture.h"
#include "v4ada/memory/malloc4.h"

namespace {

Bytes blockHeader(int type, bool last, uint32_t length) {
    return {uint8_t((last ? 0x80 : 0) | type), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)};
}

Bytes metaBlock(int type, bool last, const Bytes& body) { return cat({blockHeader(type, last, body.size()), body}); }

Bytes streamInfo(uint32_t rate, int channels, int bits, uint64_t total, uint8_t md5Fill = 0xAB) {
    Bytes info(kFlacStreamInfoSize, 0);
    info[10] = uint8_t(rate >> 12);
    info[11] = uint8_t(rate >> 4);
    info[12] = uint8_t((rate & 15) << 4 | (channels - 1) << 1 | (bits - 1) >> 4);
    info[13] = uint8_t(((bits - 1) & 15) << 4 | (total >> 32 & 15));
    info[14] = uint8_t(total >> 24);
    info[15] = uint8_t(total >> 16);
    info[16] = uint8_t(total >> 8);
    info[17] = uint8_t(total);
    for (int i = 0; i < 16; i++) info[kFlacMd5At + i] = md5Fill;
    return info;
}

Bytes comments(const std::string& vendor, const std::vector<std::string>& list) {
    Bytes out = cat({le32(vendor.size()), text(vendor), le32(list.size())});
    for (const std::string& c : list) out = cat({out, le32(c.size()), text(c)});
    return out;
}

bool readTag(VorbisTag& tag, const Bytes& file) {
    MemStream stream(file);
    return tag.read(stream.get());
}

TEST(VorbisTag, ReadsStreamInformationAndComments) {
    Bytes file = cat({text("fLaC"), metaBlock(0, false, streamInfo(44100, 2, 16, 441000)),
                      metaBlock(3, false, zeros(18)),  // seek table
                      metaBlock(4, false, comments("vendor 1.0", {"ARTIST=Someone", "TITLE=A=B", "bare"})),
                      metaBlock(1, true, zeros(100))});
    VorbisTag tag;
    ASSERT_TRUE(readTag(tag, file));
    EXPECT_EQ(tag.sampleRate(), 44100u);
    EXPECT_EQ(tag.channels(), 2);
    EXPECT_EQ(tag.bitsPerSample(), 16);
    EXPECT_EQ(tag.totalSamples(), 441000u);
    EXPECT_EQ(tag.durationText(), "00:10");
    char* hex = tag.md5().toHex();
    EXPECT_STREQ(hex, "abababababababababababababababab");
    i4_free(hex);
    EXPECT_EQ(tag.vendor(), "vendor 1.0");
    ASSERT_EQ(tag.commentCount(), 3);

    char name[256] = "untouched", value[256] = "untouched";
    ASSERT_TRUE(tag.comment(0, name, value, 256));
    EXPECT_STREQ(name, "ARTIST");
    EXPECT_STREQ(value, "Someone");
    ASSERT_TRUE(tag.comment(1, name, value, 256));
    EXPECT_STREQ(name, "TITLE");
    EXPECT_STREQ(value, "A=B");
    EXPECT_FALSE(tag.comment(2, name, value, 256));
    EXPECT_FALSE(tag.comment(3, name, value, 256));
    EXPECT_STREQ(name, "TITLE");

    // Reading again starts empty.
    ASSERT_TRUE(readTag(tag, cat({text("fLaC"), metaBlock(0, true, streamInfo(8000, 1, 8, 0, 0))})));
    EXPECT_EQ(tag.commentCount(), 0);
    EXPECT_EQ(tag.vendor(), "");
    EXPECT_EQ(tag.channels(), 1);
    EXPECT_EQ(tag.bitsPerSample(), 8);
    EXPECT_TRUE(tag.md5().isZero());
    EXPECT_EQ(tag.durationText(), "");
}

TEST(VorbisTag, FieldLimits) {
    VorbisTag tag;
    // 36 bits of total samples, an hour and more of play time.
    ASSERT_TRUE(readTag(tag, cat({text("fLaC"), metaBlock(0, true, streamInfo(655350, 8, 32, 0xFFFFFFFFFull))})));
    EXPECT_EQ(tag.sampleRate(), 655350u);
    EXPECT_EQ(tag.channels(), 8);
    EXPECT_EQ(tag.bitsPerSample(), 32);
    EXPECT_EQ(tag.totalSamples(), 0xFFFFFFFFFull);
    EXPECT_EQ(tag.durationText(), "29:07:39");

    // The vendor keeps 127 bytes and ends at a 0 byte.
    ASSERT_TRUE(readTag(tag, cat({text("fLaC"), metaBlock(4, true, comments(std::string(200, 'v'), {}))})));
    EXPECT_EQ(tag.vendor(), std::string(127, 'v'));
    ASSERT_TRUE(readTag(tag, cat({text("fLaC"), metaBlock(4, true, comments(std::string("ab\0cd", 5), {}))})));
    EXPECT_EQ(tag.vendor(), "ab");

    // Names and values shorter than the buffer are copied, others not.
    ASSERT_TRUE(readTag(tag, cat({text("fLaC"),
                                  metaBlock(4, true,
                                            comments("v", {std::string(255, 'N') + "=v", std::string(256, 'N') + "=v",
                                                           "n=" + std::string(255, 'v'), "n=" + std::string(256, 'v'),
                                                           "=empty name", "empty value="}))})));
    const bool copied[] = {true, false, true, false, true, true};
    for (int i = 0; i < 6; i++) {
        char name[256], value[256];
        EXPECT_EQ(tag.comment(i, name, value, 256), copied[i]) << i;
    }
    // A short stream information block gives zeros for what it lacks.
    Bytes info = streamInfo(44100, 2, 16, 441000);
    ASSERT_TRUE(readTag(tag, cat({text("fLaC"), metaBlock(0, true, Bytes(info.begin(), info.begin() + 18))})));
    EXPECT_EQ(tag.totalSamples(), 441000u);
    EXPECT_TRUE(tag.md5().isZero());
}

// A file whose blocks claim more than any real file holds.
Bytes emptyBlocks(int count) {
    Bytes out;
    for (int i = 0; i < count; i++) out = cat({out, blockHeader(1, false, 0)});
    return out;
}

std::vector<std::string> numbered(int count, size_t length) {
    std::vector<std::string> list;
    for (int i = 0; i < count; i++) {
        std::string c = "N=" + std::to_string(i);
        list.push_back(c + std::string(length > c.size() ? length - c.size() : 0, 'x'));
    }
    return list;
}

// Comments of 1020 bytes: each takes 1024 with its length, behind 9 bytes
// of vendor and count; those that end within the bytes read are taken.
constexpr int kWholeInHead = (kFlacCommentBytesMax - 9) / 1024;

TEST(VorbisTag, WalkEnds) {
    struct {
        const char* name;
        Bytes file;
        bool result;
        int comments;
        uint32_t rate;
    } cases[] = {
        {"last block ends the walk",
         cat({text("fLaC"), metaBlock(0, true, streamInfo(44100, 2, 16, 1)), metaBlock(4, false, comments("v", {"A=b"}))}),
         true, 0, 44100},
        {"end of file ends the walk", cat({text("fLaC"), metaBlock(0, false, streamInfo(44100, 2, 16, 1))}), true, 0,
         44100},
        {"a second stream information is skipped",
         cat({text("fLaC"), metaBlock(0, false, streamInfo(44100, 2, 16, 1)),
              metaBlock(0, false, streamInfo(8000, 1, 8, 1)), metaBlock(4, true, comments("v", {"A=b"}))}),
         true, 1, 44100},
        {"comments end the walk",
         cat({text("fLaC"), metaBlock(4, false, comments("v", {"A=b"})), metaBlock(0, true, streamInfo(8000, 1, 8, 1))}),
         true, 1, 0},
        {"empty comment block", cat({text("fLaC"), metaBlock(4, true, comments("", {}))}), true, 0, 0},
        {"no blocks", text("fLaC"), false, 0, 0},
        {"header cut short", cat({text("fLaC"), Bytes{0x80, 0}}), false, 0, 0},
        {"block beyond the file", cat({text("fLaC"), blockHeader(1, true, 100), zeros(99)}), false, 0, 0},
        {"stream information beyond the file", cat({text("fLaC"), blockHeader(0, true, 34), zeros(20)}), false, 0, 0},
        {"vendor beyond the block", cat({text("fLaC"), metaBlock(4, true, cat({le32(10), text("short")}))}), false, 0, 0},
        {"vendor length wraps", cat({text("fLaC"), metaBlock(4, true, cat({le32(0xFFFFFFFF), zeros(8)}))}), false, 0, 0},
        {"no count", cat({text("fLaC"), metaBlock(4, true, cat({le32(1), text("v"), Bytes{1, 0}}))}), false, 0, 0},
        {"count above the bytes left",
         cat({text("fLaC"), metaBlock(4, true, cat({le32(1), text("v"), le32(3), le32(0), le32(0)}))}), false, 0, 0},
        {"huge count", cat({text("fLaC"), metaBlock(4, true, cat({le32(0), le32(0x40000000), zeros(16)}))}), false, 0, 0},
        {"comment beyond the block",
         cat({text("fLaC"), metaBlock(4, true, cat({le32(1), text("v"), le32(1), le32(50), text("A=b")}))}), false, 0,
         0},
        {"comment length cut", cat({text("fLaC"), metaBlock(4, true, cat({le32(0), le32(2), le32(3), text("A=b"), Bytes{3, 0}, zeros(2)}))}),
         false, 0, 0},
        {"the walk gives up after its most blocks",
         cat({text("fLaC"), metaBlock(0, false, streamInfo(44100, 2, 16, 1)), emptyBlocks(kFlacBlocksWalkedMax),
              metaBlock(4, true, comments("v", {"A=b"}))}),
         true, 0, 44100},
        {"the comments kept are capped", cat({text("fLaC"), metaBlock(4, true, comments("v", numbered(kFlacCommentsMax * 4, 3)))}),
         true, kFlacCommentsMax, 0},
        {"a huge comment block is read only at its head",
         cat({text("fLaC"), metaBlock(4, true, comments("v", numbered(kWholeInHead + 40, 1020)))}), true, kWholeInHead, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VorbisTag tag;
        EXPECT_EQ(readTag(tag, c.file), c.result);
        if (c.result) {
            EXPECT_EQ(tag.commentCount(), c.comments);
            EXPECT_EQ(tag.sampleRate(), c.rate);
        }
    }
}

}  // namespace
