#include "transfer/media/import_master.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/meta/file_meta.h"
#include "media_fixture.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "transfer/media/flac_importer.h"
#include "transfer/media/media_stream.h"
#include "transfer/media/mp3_importer.h"
#include "transfer/media/mpeg_audio_info.h"

namespace {

using Tags = ImportTest::Tags;

Bytes frameAt(size_t at, size_t total) {
    Bytes bytes(total, 0);
    Bytes header = be32(0xFFFB9000);  // MPEG 1 Layer III, 128 kbit/s
    std::copy(header.begin(), header.end(), bytes.begin() + at);
    return bytes;
}

Bytes aviWithMainHeader(size_t mainSize) {
    Bytes strh(56, 0);
    Bytes fields = cat({text("vids"), text("DIVX"), zeros(12), le32(1), le32(25), le32(0), le32(7500)});
    std::copy(fields.begin(), fields.end(), strh.begin());
    Bytes strl = cat({text("LIST"), le32(4 + 8 + 56), text("strl"), text("strh"), le32(56), strh});
    Bytes hdrl = cat({text("hdrl"), text("avih"), le32(mainSize), zeros(mainSize), strl});
    return cat({text("RIFF"), le32(0), text("AVI "), text("LIST"), le32(hdrl.size()), hdrl});
}

class ImportMasterTest : public ImportTest {
protected:
    std::string write(const std::string& name, const Bytes& bytes) {
        std::string path = scratch_ / name;
        EXPECT_TRUE(support::write_file(path, bytes));
        return path;
    }
    support::TempDir scratch_;
};

TEST_F(ImportMasterTest, ChoosesTheImporterByTheNamesExtension) {
    const Tags audio128 = {{"Type", "Audio"}, {"Format", "mp3"}, {"length", "00:00"}, {"bitrate", "128"}};
    struct {
        const char* name;
        Bytes content;
        Tags tags;
    } cases[] = {
        {"song.MP3", frameAt(1000, 5000), audio128},
        {"song.mp3", frameAt(kMpegSearchWindow, kMpegSearchWindow + 4),
         {{"Type", "Audio"}, {"Format", "mp3"}, {"length", "00:12"}, {"bitrate", "128"}}},
        {"noise.mp3", zeros(kMpegSearchWindow + 100), {{"Format", "mp3"}}},
        {"empty.mp3", Bytes(), {{"Format", "mp3"}}},
        {"no extension", text("x"), {}},
        {"trailing dot.", text("x"), {}},
        {"x.tar.gz", text("x"), {{"Type", "Pro"}, {"Format", "gz"}}},
        {"Tune.OGG", text("x"), {{"Type", "Audio"}, {"Format", "ogg"}}},
        {"tracker.mod", text("x"), {{"Type", "Audio"}, {"Format", "mod"}}},
        {"abc.shn", text("abc"), {{"Type", "Audio"}, {"Format", "shn"}, {"MD5 Hash", "900150983cd24fb0d6963f7d28e17f72"}}},
        {"photo.JPEG", text("x"), {{"Type", "Image"}, {"Format", "jpeg"}}},
        {"clip.vcd", text("x"), {{"Type", "Video"}, {"Format", "vcd"}}},
        {"setup.exe", text("x"), {{"Type", "Pro"}, {"Format", "exe"}}},
        {"page.html", text("x"), {{"Type", "Doc"}, {"Format", "html"}}},
        {"data.xyz", text("x"), {{"Format", "xyz"}}},
        {"movie.DivX", aviWithMainHeader(56),
         {{"Type", "Video"}, {"Format", "divx"}, {"codec", "DIVX"}, {"length", "0: 5"}}},
        {"noise.avi", text("RIFF"), {{"Format", "avi"}}},
        {"plain.flac", text("not a flac file"), {{"Type", "Audio"}, {"Format", "flac"}}},
        {"broken.flac", cat({text("fLaC"), Bytes{0x84, 0, 0, 100}, zeros(10)}),
         {{"Type", "Audio"}, {"Format", "flac"}, {"Warning:", "fLaC file misformatted"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tagsOf(write(c.name, c.content), c.name), c.tags) << c.name;
    }
}

Bytes flacWithComments(const std::vector<std::string>& comments) {
    Bytes block = cat({le32(6), text("vendor"), le32(comments.size())});
    for (const std::string& c : comments) block = cat({block, le32(c.size()), text(c)});
    Bytes info(34, 0);
    info[10] = 0x0A;  // 44100 Hz, 2 channels, 16 bits, 441000 samples
    info[11] = 0xC4;
    info[12] = 0x42;
    info[13] = 0xF0;
    info[15] = 0x06;
    info[16] = 0xBA;
    info[17] = 0xA8;
    return cat({text("fLaC"), Bytes{0, 0, 0, 34}, info, Bytes{0x84, 0, uint8_t(block.size() >> 8), uint8_t(block.size())},
                block});
}

TEST_F(ImportMasterTest, FlacCommentsBecomeTagsWhenTheyAreFieldNames) {
    std::string path = write("c.flac", flacWithComments({"ARTIST=Someone", "tItLe=Song", "lower=case", "A=B=C",
                                                          std::string("\x01=poses as the Name"), "TAB\tNAME=x",
                                                          "no equals sign", "=no name", "LONG=" + std::string(256, 'v'),
                                                          std::string(256, 'N') + "=v", "EMPTY="}));
    EXPECT_EQ(tagsOf(path, "c.flac"), (Tags{{"Type", "Audio"},
                                           {"Format", "flac"},
                                           {"Vendor", "vendor"},
                                           {"Artist", "Someone"},
                                           {"title", "Song"},
                                           {"lower", "case"},
                                           {"A", "B=C"},
                                           {"Empty", ""},
                                           {"Num Channels", "2"},
                                           {"Sample Rate", "44100"},
                                           {"Bits per Sample", "16"},
                                           {"Total Samples", "441000"},
                                           {"Length", "00:10"}}));
}

TEST_F(ImportMasterTest, AviMainHeaderOfAnotherSizeFallsThrough) {
    std::string path = write("movie.avi", aviWithMainHeader(60));
    testing::internal::CaptureStderr();
    Tags tags = tagsOf(path, "movie.avi");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "AVI header not correct size!\n");
    EXPECT_EQ(tags, (Tags{{"Format", "avi"}}));
}

TEST_F(ImportMasterTest, UnreadableFileAddsNothing) {
    Tags tags;
    EXPECT_FALSE(importAs(scratch_ / "missing.mp3", "missing.mp3", &tags));
    EXPECT_TRUE(tags.empty());
    EXPECT_FALSE(ImportMaster::instance()->import(nullptr));
}

TEST_F(ImportMasterTest, AFifoNamedLikeMediaIsNeverOpened) {
    // A FIFO planted in a share under a media name: opening it for reading
    // would wait for a writer for good. Neither the import nor a reader
    // called on the path directly waits.
    for (const char* name : {"song.flac", "song.mp3", "song.shn", "clip.avi"}) {
        std::string path = scratch_ / name;
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << name;
        Tags tags;
        EXPECT_FALSE(importAs(path, name, &tags)) << name;
        EXPECT_TRUE(tags.empty()) << name;
        FileMeta meta;
        meta.setPath(path.c_str());
        FlacImporter flac;
        EXPECT_TRUE(flac.import(&meta, nullptr, "flac")) << name;
        MP3Importer mp3;
        EXPECT_TRUE(mp3.import(&meta, nullptr, "shn")) << name;
        EXPECT_FALSE(mp3.import(&meta, nullptr, "mp3")) << name;
        MediaStream stream(path.c_str());
        EXPECT_EQ(stream.get(), nullptr) << name;
        MediaStream writable(path.c_str(), "r+b");
        EXPECT_EQ(writable.get(), nullptr) << name;
    }
}

TEST_F(ImportMasterTest, ShortenDigestOfAnUnreadableFileIsEmpty) {
    // The file opens for the import but is gone when its digest is taken.
    class Remover : public Importer {
    public:
        bool import(FileMeta* meta, i4_file*, const char*) override {
            std::remove(meta->path().c_str());
            return false;
        }
    };
    ImportMaster master;
    master.append(new Remover());
    master.init();  // a filled list stays as it is
    ASSERT_EQ(master.importerCount(), 1);
    ImportMaster full;
    full.append(new Remover());
    full.append(new MP3Importer());
    FileMeta meta;
    meta.setPath(write("gone.shn", text("abc")).c_str());
    meta.setName("gone.shn");
    ASSERT_TRUE(full.import(&meta));
    EXPECT_STREQ(meta.textOf("MD5 Hash"), "");
}

TEST_F(ImportMasterTest, InitFillsTheListOnce) {
    ImportMaster master;
    EXPECT_EQ(master.importerCount(), 0);
    master.init();
    EXPECT_EQ(master.importerCount(), 8);
    master.init();
    EXPECT_EQ(master.importerCount(), 8);
    ImportMaster::createInstance();  // keeps the instance there is
    EXPECT_EQ(ImportMaster::instance()->importerCount(), 8);
}

}  // namespace
