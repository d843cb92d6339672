#include "transfer/media/avi_header.h"

#include <gtest/gtest.h>

#include "media_fixture.h"
#include "support/memory_files.h"

namespace {

Bytes chunk(const std::string& code, const Bytes& body) {
    Bytes out = cat({text(code), le32(body.size()), body});
    if (body.size() & 1) out.push_back(0);
    return out;
}

Bytes list(const std::string& type, const Bytes& content) { return chunk("LIST", cat({text(type), content})); }

Bytes streamHeader(const std::string& type, const std::string& handler, uint32_t scale, uint32_t rate,
                   uint32_t length, size_t size = 56) {
    Bytes h(size, 0);
    Bytes fields = cat({text(type), text(handler), zeros(12), le32(scale), le32(rate), le32(0), le32(length)});
    std::copy(fields.begin(), fields.begin() + std::min(fields.size(), size), h.begin());
    return h;
}

Bytes videoStream(const std::string& handler, uint32_t scale, uint32_t rate, uint32_t length) {
    return list("strl", cat({chunk("strh", streamHeader("vids", handler, scale, rate, length)),
                             chunk("strf", Bytes(40, 0x11)), chunk("strn", text("video"))}));
}

Bytes pcmStream() {
    return list("strl", cat({chunk("strh", streamHeader("auds", std::string(4, '\0'), 1, 8000, 8000)),
                             chunk("strf", cat({le16(1), Bytes(14, 0x22)})), chunk("strn", text("sound"))}));
}

Bytes mainHeader(size_t size = kAviMainHeaderSize) { return chunk("avih", Bytes(size, 0x33)); }

Bytes aviFile(const Bytes& content) {
    Bytes hdrl = cat({text("hdrl"), content});
    return cat({text("RIFF"), le32(0), text("AVI "), text("LIST"), le32(hdrl.size()), hdrl, text("movi")});
}

bool readHeader(AviHeader& header, const Bytes& bytes) {
    support::ByteReader reader(bytes);
    return header.read(reader.file());
}

TEST(AviHeader, WalksStreamLists) {
    AviHeader header;
    ASSERT_TRUE(readHeader(header, aviFile(cat({mainHeader(), videoStream("DIVX", 1, 25, 2250), pcmStream()}))));
    EXPECT_TRUE(header.hasVideo());
    EXPECT_TRUE(header.hasAudio());
    EXPECT_EQ(header.mainHeader()[55], 0x33);
    EXPECT_EQ(header.codec(), "DIVX");
    EXPECT_EQ(header.videoName(), "video");
    EXPECT_EQ(header.audioName(), "sound");
    EXPECT_EQ(header.videoFormat()[39], 0x11);
    // 56-byte stream headers and a 16-byte PCM format: the rest is zero.
    EXPECT_EQ(header.videoStreamHeader()[kAviStreamHeaderSize - 1], 0);
    EXPECT_EQ(header.audioFormat()[15], 0x22);
    EXPECT_EQ(header.audioFormat()[16], 0);
    EXPECT_EQ(header.audioFormatCode(), kAviFormatPcm);
    uint64_t seconds = 0;
    ASSERT_TRUE(header.lengthSeconds(&seconds));
    EXPECT_EQ(seconds, 90u);
    EXPECT_EQ(header.lengthText(), "0: 1");
}

TEST(AviHeader, LengthTexts) {
    struct {
        uint32_t scale, rate, length;
        const char* text;
    } cases[] = {
        {60, 1, 90, "1:30"},             // 90 minutes at a frame a minute
        {1, 25, 7500, "0: 5"},           // 5 minutes at 25 frames a second
        {1001, 30000, 107892, "0:59"},   // 3599.99 s: truncated
        {1001, 30000, 107893, "1: 0"},
        {1, 1, 0xFFFFFFFF, "1193046:28"},
        {0xFFFFFFFF, 1, 0xFFFFFFFF, "5124095573644338: 3"},  // no overflow
        {0, 25, 100, ""},
        {1, 0, 100, ""},
    };
    for (const auto& c : cases) {
        AviHeader header;
        ASSERT_TRUE(readHeader(header, aviFile(videoStream("XVID", c.scale, c.rate, c.length))));
        EXPECT_EQ(header.lengthText(), c.text) << c.scale << "/" << c.rate << " x " << c.length;
    }
    AviHeader audioOnly;
    ASSERT_TRUE(readHeader(audioOnly, aviFile(pcmStream())));
    EXPECT_FALSE(audioOnly.hasVideo());
    EXPECT_EQ(audioOnly.codec(), "");
    EXPECT_EQ(audioOnly.lengthText(), "");
}

TEST(AviHeader, StreamChunksFollowTheCurrentStream) {
    AviHeader header;
    // A format before any stream header and one after a text stream are
    // not taken; a 70-byte stream header gives its first 64 bytes.
    Bytes content = cat({chunk("strf", Bytes(40, 0x44)),
                         list("strl", cat({chunk("strh", streamHeader("txts", "none", 1, 1, 1)),
                                           chunk("strf", Bytes(40, 0x55))})),
                         list("strl", cat({chunk("strh", streamHeader("vids", "MJPG", 1, 5, 10, 70)),
                                           chunk("strn", text("odd")), chunk("strf", Bytes(3, 0x66))})),
                         list("INFO", chunk("avih", zeros(3)))});
    ASSERT_TRUE(readHeader(header, aviFile(content)));
    EXPECT_EQ(header.codec(), "MJPG");
    EXPECT_EQ(header.videoName(), "odd");
    EXPECT_EQ(header.videoFormat()[2], 0x66);
    EXPECT_EQ(header.videoFormat()[3], 0);
    EXPECT_FALSE(header.hasAudio());

    // Stream lists inside stream lists are stepped over.
    AviHeader nested;
    ASSERT_TRUE(readHeader(nested, aviFile(list("strl", videoStream("DIVX", 1, 1, 1)))));
    EXPECT_FALSE(nested.hasVideo());

    EXPECT_EQ(AviHeader::audioFormatName(1), "PCM");
    EXPECT_EQ(AviHeader::audioFormatName(80), "MPEG");
    EXPECT_EQ(AviHeader::audioFormatName(85), "MP3");
    EXPECT_EQ(AviHeader::audioFormatName(2), "Unknown format (2)");
}

Bytes withListSize(Bytes file, uint32_t size) {
    Bytes s = le32(size);
    std::copy(s.begin(), s.end(), file.begin() + 16);
    return file;
}

TEST(AviHeader, RefusesBadLayouts) {
    Bytes good = aviFile(cat({mainHeader(), videoStream("DIVX", 1, 25, 250)}));
    Bytes notRiff = good;
    notRiff[0] = 'X';
    Bytes notAvi = good;
    notAvi[11] = 'X';
    Bytes notHdrl = good;
    notHdrl[23] = 'X';
    Bytes big = aviFile(cat({mainHeader(), chunk("JUNK", zeros(kAviHeaderListMax))}));
    struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"not RIFF", notRiff},
        {"not AVI", notAvi},
        {"not hdrl", notHdrl},
        {"cut in the file header", Bytes(good.begin(), good.begin() + 20)},
        {"list size below 4", withListSize(good, 3)},
        {"list beyond the file", withListSize(good, good.size())},
        {"list above 1 MiB", big},
        {"chunk beyond the list", aviFile(cat({mainHeader(), text("strh"), le32(100), zeros(50)}))},
        {"chunk size wraps", aviFile(cat({mainHeader(), text("strh"), le32(0xFFFFFFF8), zeros(50)}))},
        {"LIST without a type", aviFile(cat({text("LIST"), le32(2), zeros(2)}))},
        {"stream list beyond the list", aviFile(cat({text("LIST"), le32(40), text("strl"), zeros(20)}))},
        {"chunk beyond its stream list",
         aviFile(list("strl", cat({text("strh"), le32(60), streamHeader("vids", "DIVX", 1, 1, 1)})))},
    };
    for (const auto& c : cases) {
        AviHeader header;
        EXPECT_FALSE(readHeader(header, c.file)) << c.name;
    }
    AviHeader header;
    EXPECT_TRUE(readHeader(header, good));
    // Fewer bytes than a chunk header at the end of a list are padding.
    EXPECT_TRUE(readHeader(header, aviFile(cat({mainHeader(), zeros(7)}))));
    EXPECT_TRUE(readHeader(header, aviFile(Bytes())));
}

TEST(AviHeader, MainHeaderOfAnotherSizeIsReported) {
    for (size_t size : {0, 55, 57, 60}) {
        AviHeader header;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(readHeader(header, aviFile(cat({mainHeader(size), videoStream("DIVX", 1, 25, 250)}))));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "AVI header not correct size!\n") << size;
    }
}

}  // namespace
