#include "transfer/media/mpeg_audio_info.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "media_fixture.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "transfer/media/duration_text.h"

namespace {

constexpr uint32_t kMpeg1Layer3At128 = 0xFFFB9000;  // 44100 Hz, stereo

// `total` bytes of zeros with the header word at `at`.
Bytes withHeader(uint32_t word, size_t at, size_t total) {
    Bytes bytes(total, 0);
    Bytes header = be32(word);
    std::copy(header.begin(), header.end(), bytes.begin() + at);
    return bytes;
}

int readInfo(MpegAudioInfo& info, const Bytes& bytes) {
    MemStream stream(bytes);
    return info.read(stream.get(), "memory");
}

struct HeaderCase {
    uint32_t word;
    bool valid;
    const char* description;
    int bitrate;
    int sampleRate;
    const char* channelMode;
};

TEST(MpegHeader, WordsDecodeByTheStandardTables) {
    const HeaderCase cases[] = {
        {0xFFFB9000, true, "MPEG 1 Layer III", 128, 44100, "Stereo"},
        {0xFFFFE000, true, "MPEG 1 Layer I", 448, 44100, "Stereo"},
        {0xFFFDE400, true, "MPEG 1 Layer II", 384, 48000, "Stereo"},
        {0xFFFB1840, true, "MPEG 1 Layer III", 32, 32000, "Joint Stereo"},
        {0xFFF39064, true, "MPEG 2 Layer III", 80, 22050, "Joint Stereo"},
        {0xFFF7E880, true, "MPEG 2 Layer I", 256, 16000, "Dual Channel"},
        {0xFFF5E000, true, "MPEG 2 Layer II", 160, 22050, "Stereo"},
        {0xFFE388C0, true, "MPEG 2.5 Layer III", 64, 8000, "Single Channel"},
        {0xFFE314C0, true, "MPEG 2.5 Layer III", 8, 12000, "Single Channel"},
        {0xFFFFFFFF, false, "", 0, 0, ""},  // bit-rate index 15
        {0xFFEB9000, false, "", 0, 0, ""},  // version field 1
        {0xFFF99000, false, "", 0, 0, ""},  // layer field 0
        {0xFFFB0000, false, "", 0, 0, ""},  // free bit rate
        {0xFFFB9C00, false, "", 0, 0, ""},  // sample-rate index 3
        {0xFFFB9002, false, "", 0, 0, ""},  // emphasis 2
        {0xFFDB9000, false, "", 0, 0, ""},  // sync bit 21 clear
        {0x00000000, false, "", 0, 0, ""},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.word);
        EXPECT_EQ(MpegAudioInfo::isValidHeader(c.word), c.valid);
        if (!c.valid) continue;
        MpegAudioInfo info;
        ASSERT_EQ(readInfo(info, withHeader(c.word, 0, 1000)), 0);
        EXPECT_EQ(info.description(), c.description);
        EXPECT_EQ(info.tableBitrate(), c.bitrate);
        EXPECT_EQ(info.bitrate(), c.bitrate);
        EXPECT_EQ(info.sampleRate(), c.sampleRate);
        EXPECT_STREQ(info.channelModeName(), c.channelMode);
        EXPECT_FALSE(info.hasXing());
    }
}

TEST(MpegAudioInfo, FindsTheFirstHeaderWithinTheWindow) {
    struct {
        size_t at;
        size_t total;
        int result;
    } cases[] = {
        {0, 4, 0},
        {1000, 5000, 0},
        {kMpegSearchWindow, kMpegSearchWindow + 4, 0},
        {kMpegSearchWindow + 1, kMpegSearchWindow + 100, 1},
        {997, 1000, 1},  // the word would run past the end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.at);
        MpegAudioInfo info;
        Bytes bytes(c.total, 0);
        Bytes header = be32(kMpeg1Layer3At128);
        for (size_t i = 0; i < 4 && c.at + i < c.total; i++) bytes[c.at + i] = header[i];
        EXPECT_EQ(readInfo(info, bytes), c.result);
        if (c.result == 0) {
            EXPECT_EQ(info.headerPosition(), c.at);
        }
    }
    MpegAudioInfo info;
    EXPECT_NE(readInfo(info, Bytes()), 0);
    EXPECT_NE(info.read("/nonexistent/file.mp3"), 0);
    // A valid word is taken where it starts, even inside other bytes.
    EXPECT_EQ(readInfo(info, cat({text("xx"), withHeader(0xFFF39064, 0, 100)})), 0);
    EXPECT_EQ(info.headerPosition(), 2u);
}

struct XingCase {
    const char* name;
    uint32_t word;
    int sideInfo;
    uint32_t flags;
    uint32_t frames;
    int bitrate;
    int64_t frameCount;
};

// 50,000 bytes of audio: the average frame holds 500 bytes.
TEST(MpegAudioInfo, XingAveragesPerVersionAndLayer) {
    const XingCase cases[] = {
        // 44100 x 500 / 144,000
        {"MPEG 1 stereo", 0xFFFB9000, 32, 1, 100, 153, 100},
        {"MPEG 1 mono", 0xFFFB90C0, 17, 1, 100, 153, 100},
        // 22050 x 500 / 72,000: MPEG 2 Layer III frames hold 576 samples
        {"MPEG 2 stereo", 0xFFF39000, 17, 1, 100, 153, 100},
        // 11025 x 500 / 72,000
        {"MPEG 2.5 mono", 0xFFE390C0, 9, 15, 100, 76, 100},
        // 22050 x 500 / 144,000
        {"MPEG 2 Layer II", 0xFFF59000, 17, 1, 100, 76, 100},
        // 44100 x 500 / 48,000: Layer I frames hold 384 samples
        {"MPEG 1 Layer I", 0xFFFF9000, 32, 1, 100, 459, 100},
        // Without a usable count the table rate holds: 50,000 / (128,000 / 44100 x 144)
        {"no count flag", 0xFFFB9000, 32, 2, 100, 128, 119},
        {"count 0", 0xFFFB9000, 32, 1, 0, 128, 119},
        {"negative count", 0xFFFB9000, 32, 1, 0x80000000u, 128, 119},
    };
    for (const XingCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = withHeader(c.word, 0, 50000);
        Bytes xing = cat({text("Xing"), be32(c.flags), be32(c.frames)});
        std::copy(xing.begin(), xing.end(), bytes.begin() + 4 + c.sideInfo);
        MpegAudioInfo info;
        ASSERT_EQ(readInfo(info, bytes), 0);
        EXPECT_TRUE(info.hasXing());
        EXPECT_EQ(info.bitrate(), c.bitrate);
        EXPECT_EQ(info.frameCount(), c.frameCount);
        EXPECT_EQ(info.durationSeconds(), 50000u / 125 / c.bitrate);
    }
    // A Xing header at another offset is not one.
    Bytes bytes = withHeader(0xFFF39000, 0, 50000);
    Bytes xing = cat({text("Xing"), be32(1), be32(100)});
    std::copy(xing.begin(), xing.end(), bytes.begin() + 4 + 32);
    MpegAudioInfo info;
    ASSERT_EQ(readInfo(info, bytes), 0);
    EXPECT_FALSE(info.hasXing());
    EXPECT_EQ(info.bitrate(), 80);
}

TEST(MpegAudioInfo, DurationTexts) {
    const std::pair<uint64_t, const char*> texts[] = {
        {0, "00:00"},         {62, "01:02"},         {3599, "59:59"},
        {3600, "01:00:00"},   {3661, "01:01:01"},    {360000, "100:00:00"},
    };
    for (const auto& [seconds, expected] : texts) EXPECT_EQ(media_duration_text(seconds), expected);

    // 1,000,000 bytes at 128 kbit/s: 8,000,000 / 1000 / 128 = 62 s.
    MpegAudioInfo info;
    ASSERT_EQ(readInfo(info, withHeader(kMpeg1Layer3At128, 0, 1000000)), 0);
    EXPECT_EQ(info.durationSeconds(), 62u);
    EXPECT_EQ(info.durationText(), "01:02");
}

TEST(MpegAudioInfo, DurationOfFilesFrom512MiBOn) {
    support::TempDir scratch;
    std::string path = scratch / "long.mp3";
    support::write_file(path, be32(kMpeg1Layer3At128));
    ASSERT_EQ(truncate(path.c_str(), 600ll << 20), 0);
    MpegAudioInfo info;
    ASSERT_EQ(info.read(path.c_str()), 0);
    // 629,145,600 x 8 / 1000 / 128; in 32 bits the product wrapped to 5767 s.
    EXPECT_EQ(info.durationSeconds(), 39321u);
    EXPECT_EQ(info.durationText(), "10:55:21");
}

Bytes id3v2Header(uint8_t major, uint8_t flags, uint32_t size) {
    return {'I', 'D', '3', major, 0, flags,
            uint8_t(size >> 21 & 0x7F), uint8_t(size >> 14 & 0x7F), uint8_t(size >> 7 & 0x7F), uint8_t(size & 0x7F)};
}

TEST(MpegAudioInfo, Id3v2Lengths) {
    struct {
        Bytes head;
        uint64_t length;
    } cases[] = {
        {id3v2Header(3, 0, 0), 10},
        {id3v2Header(3, 0, 1000), 1010},
        {id3v2Header(4, 0x10, 1000), 1020},  // footer
        {id3v2Header(3, 0, 0x0FFFFFFF), 0x0FFFFFFFull + 10},
        {cat({text("ID3"), Bytes{3, 0, 0, 0x80, 0, 0, 0}}), 0},  // not synchsafe
        {cat({text("ID3"), Bytes{0xFF, 0, 0, 0, 0, 0, 1}}), 0},
        {cat({text("ID2"), Bytes{3, 0, 0, 0, 0, 0, 1}}), 0},
        {text("ID3"), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(MpegAudioInfo::id3v2Length(c.head.data(), c.head.size()), c.length);
}

TEST(MpegAudioInfo, LeadingId3v2TagIsSkipped) {
    // The tag's body holds a word that reads as a 32 kbit/s header.
    Bytes body = withHeader(0xFFFB1000, 100, 5000);
    Bytes bytes = cat({id3v2Header(3, 0, 5000), body, withHeader(kMpeg1Layer3At128, 0, 160000)});
    MpegAudioInfo info;
    ASSERT_EQ(readInfo(info, bytes), 0);
    EXPECT_EQ(info.headerPosition(), 5010u);
    EXPECT_EQ(info.bitrate(), 128);
    EXPECT_EQ(info.audioBytes(), 160000u);
    EXPECT_EQ(info.durationSeconds(), 10u);

    // The window counts from the end of the tag.
    bytes = cat({id3v2Header(3, 0, 5000), zeros(5000), withHeader(kMpeg1Layer3At128, kMpegSearchWindow, kMpegSearchWindow + 4)});
    ASSERT_EQ(readInfo(info, bytes), 0);
    EXPECT_EQ(info.headerPosition(), 5010u + kMpegSearchWindow);

    // A tag longer than the file leaves nothing to search.
    EXPECT_NE(readInfo(info, cat({id3v2Header(3, 0, 5000), withHeader(kMpeg1Layer3At128, 0, 100)})), 0);
}

TEST(MpegAudioInfo, WriteTagAppendsThenOverwrites) {
    support::TempDir scratch;
    std::string path = scratch / "song.mp3";
    Bytes audio = withHeader(kMpeg1Layer3At128, 0, 4000);
    support::write_file(path, audio);

    MpegAudioInfo info;
    ASSERT_EQ(info.read(path.c_str()), 0);
    EXPECT_FALSE(info.hasId3());
    ASSERT_TRUE(info.writeTag("Title", "Artist", "Album", 1999, "Comment", 5, "Psychadelic"));
    EXPECT_EQ(support::read_bytes(path).size(), 4000u + kId3v1Size);

    MpegAudioInfo again;
    ASSERT_EQ(again.read(path.c_str()), 0);
    ASSERT_TRUE(again.hasId3());
    EXPECT_STREQ(again.id3().title(), "Title");
    EXPECT_EQ(again.id3().year(), 1999);
    EXPECT_EQ(again.id3().track(), 5);
    EXPECT_EQ(again.id3().genre(), 67);

    // "n/a" keeps a field, a year out of range and an unknown genre are
    // ignored, track -1 makes version 1.0; the tag is written over.
    ASSERT_TRUE(again.writeTag("n/a", "Other", "n/a", 999, "n/a", -1, "No Such Genre"));
    Bytes written = support::read_bytes(path);
    ASSERT_EQ(written.size(), 4000u + kId3v1Size);
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), written.begin()));
    MpegAudioInfo third;
    ASSERT_EQ(third.read(path.c_str()), 0);
    EXPECT_STREQ(third.id3().title(), "Title");
    EXPECT_STREQ(third.id3().artist(), "Other");
    EXPECT_STREQ(third.id3().comment(), "Comment");
    EXPECT_EQ(third.id3().year(), 1999);
    EXPECT_FLOAT_EQ(third.id3().version(), 1.0f);
    EXPECT_EQ(third.id3().genre(), 67);
    ASSERT_TRUE(third.writeTag("n/a", "n/a", "n/a", 3000, "n/a", 255, "n/a"));
    MpegAudioInfo fourth;
    ASSERT_EQ(fourth.read(path.c_str()), 0);
    EXPECT_EQ(fourth.id3().year(), 3000);
    EXPECT_EQ(fourth.id3().track(), 255);

    MpegAudioInfo missing;
    EXPECT_NE(missing.read((scratch / "gone.mp3").c_str()), 0);
    EXPECT_FALSE(missing.writeTag("a", "b", "c", 2000, "d", 1, "Rock"));
}

}  // namespace
