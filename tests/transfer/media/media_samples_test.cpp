// The readers and importers on files made by common encoders, against what
// independent tools read from them (samples/reference.txt, written by
// samples/make_samples.sh).
#include <gtest/gtest.h>

#include <cmath>
#include <strings.h>

#include "media_fixture.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "transfer/media/avi_header.h"
#include "transfer/media/media_stream.h"
#include "transfer/media/mpeg_audio_info.h"
#include "transfer/media/vorbis_tag.h"
#include "v4ada/file/fs.h"
#include "v4ada/memory/malloc4.h"

namespace {

using Tags = ImportTest::Tags;

const char* const kMp3Samples[] = {"cbr.mp3", "vbr_mpeg1.mp3", "vbr_mpeg2.mp3", "id3v11.mp3", "id3v2_picture.mp3"};

TEST(MediaSamples, MpegAudioInfoAgreesWithIndependentTools) {
    for (const char* name : kMp3Samples) {
        SCOPED_TRACE(name);
        // mp3info: version | layer | Hz | mode | average kbit/s | seconds | frames
        std::vector<std::string> ref = splitReference(sampleReference(name).at("mp3info"));
        ASSERT_EQ(ref.size(), 7u);
        MpegAudioInfo info;
        ASSERT_EQ(info.read(samplePath(name).c_str()), 0);
        EXPECT_DOUBLE_EQ(info.versionNumber(), std::stod(ref[0]));
        EXPECT_EQ(info.description(), std::string("MPEG ") + (info.versionNumber() == 1 ? "1" : "2") + " Layer " + ref[1]);
        EXPECT_EQ(info.sampleRate(), std::stoi(ref[2]));
        EXPECT_EQ(strcasecmp(info.channelModeName(), ref[3].c_str()), 0) << info.channelModeName();
        EXPECT_NEAR(info.bitrate(), std::stod(ref[4]), 1.0);
        EXPECT_EQ(info.durationSeconds(), std::stoull(ref[5]));
        if (std::string(name).rfind("vbr", 0) == 0) {
            EXPECT_TRUE(info.hasXing());
            EXPECT_NEAR(info.xingFrameCount(), std::stoi(ref[6]), 1);
        }
    }
}

TEST(MediaSamples, CoverArtBeforeTheAudioHoldsFalseHeaders) {
    Bytes file = support::read_bytes(samplePath("id3v2_picture.mp3"));
    uint64_t tagEnd = MpegAudioInfo::id3v2Length(file.data(), file.size());
    ASSERT_GT(tagEnd, 10000u);
    // A search from byte 0 would stop inside the picture.
    size_t first = 0;
    while (first + 4 <= file.size() &&
           !MpegAudioInfo::isValidHeader(uint32_t(file[first]) << 24 | file[first + 1] << 16 | file[first + 2] << 8 | file[first + 3]))
        first++;
    EXPECT_LT(first, tagEnd);
    MpegAudioInfo info;
    ASSERT_EQ(info.read(samplePath("id3v2_picture.mp3").c_str()), 0);
    EXPECT_EQ(info.headerPosition(), tagEnd);
}

class SampleImport : public ImportTest {};

TEST_F(SampleImport, Mp3Files) {
    // mp3info: title | artist | album | year | comment | track | genre
    std::vector<std::string> id3 = splitReference(sampleReference("id3v11.mp3").at("id3"));
    ASSERT_EQ(id3.size(), 7u);
    MpegAudioInfo info;
    ASSERT_EQ(info.read(samplePath("id3v11.mp3").c_str()), 0);
    ASSERT_TRUE(info.hasId3());
    EXPECT_EQ(info.id3().title(), id3[0]);
    EXPECT_EQ(info.id3().year(), std::stoi(id3[3]));
    EXPECT_EQ(info.id3().comment(), id3[4]);
    EXPECT_FLOAT_EQ(info.id3().version(), 1.1f);
    EXPECT_EQ(info.id3().track(), std::stoi(id3[5]));
    EXPECT_EQ(info.id3().genre(), std::stoi(id3[6]));
    EXPECT_STREQ(info.id3().genreName(), "Psychadelic");

    EXPECT_EQ(tagsOf(samplePath("id3v11.mp3"), "id3v11.mp3"),
              (Tags{{"Type", "Audio"}, {"Format", "mp3"}, {"Title", id3[0]}, {"Artist", id3[1]}, {"Album", id3[2]},
                    {"length", "00:02"}, {"bitrate", "32"}}));
    EXPECT_EQ(tagsOf(samplePath("vbr_mpeg2.mp3"), "vbr_mpeg2.mp3"),
              (Tags{{"Type", "Audio"}, {"Format", "mp3"}, {"length", "00:02"}, {"bitrate", "24"}}));
}

struct FlacReference {
    std::vector<std::string> info;  // Hz | channels | bits | total samples | MD5
    std::string vendor;
    std::vector<std::string> tags;  // NAME=value
};

FlacReference flacReference(const std::string& name) {
    const auto& ref = sampleReference(name);
    FlacReference out{splitReference(ref.at("streaminfo")), ref.at("vendor"), splitReference(ref.at("tags"))};
    EXPECT_EQ(out.info.size(), 5u) << name;
    return out;
}

TEST_F(SampleImport, FlacStreamInformationAndComments) {
    for (const char* name : {"comments.flac", "mono8.flac"}) {
        SCOPED_TRACE(name);
        FlacReference ref = flacReference(name);
        MediaStream stream(samplePath(name).c_str());
        VorbisTag tag;
        ASSERT_TRUE(tag.read(stream.get()));
        EXPECT_EQ(tag.sampleRate(), std::stoul(ref.info[0]));
        EXPECT_EQ(tag.channels(), std::stoi(ref.info[1]));
        EXPECT_EQ(tag.bitsPerSample(), std::stoi(ref.info[2]));
        EXPECT_EQ(tag.totalSamples(), std::stoull(ref.info[3]));
        char* md5 = tag.md5().toHex();
        EXPECT_EQ(md5, ref.info[4]);
        i4_free(md5);
        EXPECT_EQ(tag.vendor(), ref.vendor);
        ASSERT_EQ(tag.commentCount(), static_cast<int>(ref.tags.size()));
        for (int i = 0; i < tag.commentCount(); i++) EXPECT_EQ(tag.rawComment(i), ref.tags[i]);
    }

    FlacReference stereo = flacReference("comments.flac");
    EXPECT_EQ(tagsOf(samplePath("comments.flac"), "comments.flac"),
              (Tags{{"Type", "Audio"},
                    {"Format", "flac"},
                    {"Vendor", stereo.vendor},
                    {"Artist", "Flac Artist"},
                    {"Title", "Flac Title"},
                    {"Album", "Flac Album"},
                    {"Genre", "Test"},
                    {"Num Channels", "2"},
                    {"Sample Rate", stereo.info[0]},
                    {"Bits per Sample", "16"},
                    {"Total Samples", stereo.info[3]},
                    {"Length", "00:02"},
                    {"Raw Audio MD5", stereo.info[4]}}));
    FlacReference mono = flacReference("mono8.flac");
    EXPECT_EQ(tagsOf(samplePath("mono8.flac"), "mono8.FLAC"),
              (Tags{{"Type", "Audio"},
                    {"Format", "flac"},
                    {"Vendor", mono.vendor},
                    {"Sample Rate", "8000"},
                    {"Bits per Sample", "8"},
                    {"Total Samples", mono.info[3]},
                    {"Length", "00:02"},
                    {"Raw Audio MD5", mono.info[4]}}));
    // An ID3v1 tag wins over the comments.
    EXPECT_EQ(tagsOf(samplePath("id3v1.flac"), "id3v1.flac"),
              (Tags{{"Type", "Audio"},
                    {"Format", "flac"},
                    {"Artist", "Id3 Artist"},
                    {"Title", "Id3 Title"},
                    {"Album", "Id3 Album"}}));
}

TEST_F(SampleImport, AviFiles) {
    for (const char* name : {"divx_pcm.avi", "mjpeg_mp3.avi", "long90.avi"}) {
        SCOPED_TRACE(name);
        // ffprobe: codec tag, seconds | audio format code
        std::vector<std::string> video = splitReference(sampleReference(name).at("video"), ',');
        ASSERT_EQ(video.size(), 2u);
        std::string audio = sampleReference(name).at("audio");
        i4_file* file = fs_open(samplePath(name).c_str(), kFsRead);
        ASSERT_NE(file, nullptr);
        AviHeader header;
        EXPECT_TRUE(header.read(file));
        delete file;
        EXPECT_EQ(header.codec(), video[0]);
        uint64_t seconds = 0;
        ASSERT_TRUE(header.lengthSeconds(&seconds));
        EXPECT_EQ(seconds, static_cast<uint64_t>(std::stod(video[1])));
        if (audio.empty()) {
            EXPECT_FALSE(header.hasAudio());
        } else {
            EXPECT_EQ(header.audioFormatCode(), std::stoi(audio, nullptr, 16));
        }
    }
    EXPECT_EQ(AviHeader::audioFormatName(1), "PCM");
    EXPECT_EQ(tagsOf(samplePath("long90.avi"), "long90.avi"),
              (Tags{{"Type", "Video"}, {"Format", "avi"}, {"codec", "FMP4"}, {"length", "1:30"}}));
    EXPECT_EQ(tagsOf(samplePath("divx_pcm.avi"), "divx_pcm.AVI"),
              (Tags{{"Type", "Video"}, {"Format", "avi"}, {"codec", "DIVX"}, {"length", "0: 0"}}));
}

TEST_F(SampleImport, OggFile) {
    EXPECT_EQ(tagsOf(samplePath("tone.ogg"), "tone.ogg"), (Tags{{"Type", "Audio"}, {"Format", "ogg"}}));
}

}  // namespace
