#include "transfer/media/id3v1_tag.h"

#include <gtest/gtest.h>

#include <cstring>

#include "media_fixture.h"

namespace {

Bytes field(const std::string& s, size_t n, uint8_t pad = 0) {
    Bytes out(n, pad);
    std::copy(s.begin(), s.begin() + std::min(s.size(), n), out.begin());
    return out;
}

Bytes block(const std::string& title, const std::string& artist, const std::string& album, const std::string& year,
            const Bytes& commentAndTrack, uint8_t genre, uint8_t pad = 0) {
    return cat({text("TAG"), field(title, 30, pad), field(artist, 30, pad), field(album, 30, pad), field(year, 4),
                commentAndTrack, Bytes{genre}});
}

TEST(Id3v1Tag, ParsesBothVersions) {
    struct {
        const char* name;
        Bytes bytes;
        const char* title;
        const char* comment;
        int year;
        float version;
        int track;
    } cases[] = {
        {"1.0 padded with zeros", block("Title", "Artist", "Album", "2004", field("A comment", 30), 17), "Title",
         "A comment", 2004, 1.0f, 0},
        {"1.0 padded with blanks", block("Title", "Artist", "Album", "1999", field("Comment", 30, ' '), 17, ' '),
         "Title", "Comment", 1999, 1.0f, 0},
        {"1.0 full width", block(std::string(30, 'T'), "Artist", "Album", "1999", field(std::string(30, 'c'), 30), 17),
         "TTTTTTTTTTTTTTTTTTTTTTTTTTTTTT", "cccccccccccccccccccccccccccccc", 1999, 1.0f, 0},
        {"1.1 track 7", block("Title", "Artist", "Album", "1999", cat({field(std::string(28, 'c'), 28), Bytes{0, 7}}), 17),
         "Title", "cccccccccccccccccccccccccccc", 1999, 1.1f, 7},
        {"1.1 blanks before the track",
         block("Title  ", "Artist", "Album", "1999", cat({field("x ", 28, ' '), Bytes{0, 255}}), 17), "Title", "x",
         1999, 1.1f, 255},
        {"zero track reads as 1.0", block("T", "Artist", "Album", "1999", cat({field("c", 28), Bytes{0, 0}}), 17), "T", "c",
         1999, 1.0f, 0},
        {"year with letters", block("T", "Artist", "Album", "19x9", field("c", 30), 17), "T", "c", 19, 1.0f, 0},
        {"no year", block("T", "Artist", "Album", "", field("c", 30), 17), "T", "c", 0, 1.0f, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.bytes.size(), size_t(kId3v1Size));
        Id3v1Tag tag;
        ASSERT_TRUE(tag.parse(c.bytes.data()));
        EXPECT_STREQ(tag.title(), c.title);
        EXPECT_STREQ(tag.artist(), "Artist");
        EXPECT_STREQ(tag.album(), "Album");
        EXPECT_STREQ(tag.comment(), c.comment);
        EXPECT_EQ(tag.year(), c.year);
        EXPECT_FLOAT_EQ(tag.version(), c.version);
        EXPECT_EQ(tag.track(), c.track);
        EXPECT_EQ(tag.genre(), 17);

        // What is written reads back the same.
        uint8_t written[kId3v1Size];
        tag.serialize(written);
        Id3v1Tag again;
        ASSERT_TRUE(again.parse(written));
        EXPECT_STREQ(again.title(), tag.title());
        EXPECT_STREQ(again.artist(), tag.artist());
        EXPECT_STREQ(again.album(), tag.album());
        EXPECT_STREQ(again.comment(), tag.comment());
        EXPECT_EQ(again.year(), tag.year());
        EXPECT_EQ(again.track(), tag.track());
        EXPECT_EQ(again.genre(), tag.genre());
    }
}

TEST(Id3v1Tag, SerializesTheLayout) {
    Id3v1Tag tag;
    tag.setTitle("Title");
    tag.setArtist(std::string(40, 'a').c_str());  // cut to 30
    tag.setAlbum("Album");
    tag.setComment(std::string(30, 'c').c_str());  // 28 kept in version 1.1
    tag.setYear(2004);
    tag.setTrack(9);
    tag.setGenre(67);
    uint8_t out[kId3v1Size];
    tag.serialize(out);
    Bytes expected = block("Title", std::string(30, 'a'), "Album", "2004",
                           cat({field(std::string(28, 'c'), 28), Bytes{0, 9}}), 67);
    EXPECT_EQ(Bytes(out, out + kId3v1Size), expected);

    tag.setTrack(-1);
    tag.serialize(out);
    EXPECT_EQ(Bytes(out, out + kId3v1Size),
              block("Title", std::string(30, 'a'), "Album", "2004", field(std::string(30, 'c'), 30), 67));

    Bytes notTag = block("T", "A", "B", "1999", field("c", 30), 1);
    notTag[0] = 'X';
    EXPECT_FALSE(tag.parse(notTag.data()));
    EXPECT_STREQ(tag.title(), "Title");
}

TEST(Id3v1Tag, GenreNames) {
    const std::pair<int, const char*> names[] = {
        {0, "Blues"}, {67, "Psychadelic"}, {79, "Hard Rock"}, {80, "Folk"}, {123, "A capella"},
        {125, "Dance Hall"}, {126, "not supported"}, {255, "not supported"}, {-1, "not supported"},
    };
    for (const auto& [index, name] : names) EXPECT_STREQ(Id3v1Tag::genreName(index), name) << index;
    EXPECT_EQ(Id3v1Tag::genreIndex("Blues"), 0);
    EXPECT_EQ(Id3v1Tag::genreIndex("Psychadelic"), 67);
    EXPECT_EQ(Id3v1Tag::genreIndex("Dance Hall"), 125);
    EXPECT_EQ(Id3v1Tag::genreIndex("not supported"), -1);
    EXPECT_EQ(Id3v1Tag::genreIndex("blues"), -1);
    EXPECT_EQ(Id3v1Tag::genreIndex(nullptr), -1);
    // A tag made here carries no genre until one is set.
    EXPECT_STREQ(Id3v1Tag().genreName(), "not supported");
}

TEST(Id3v1Tag, ReadsTheLastBlockOfAStream) {
    Bytes tagBlock = block("T", "A", "B", "1999", field("c", 30), 1);
    Id3v1Tag tag;
    MemStream tagged(cat({zeros(500), tagBlock}));
    EXPECT_TRUE(tag.readLast(tagged.get()));
    EXPECT_STREQ(tag.title(), "T");
    MemStream exact(tagBlock);
    EXPECT_TRUE(Id3v1Tag().readLast(exact.get()));
    MemStream shorter(Bytes(tagBlock.begin() + 1, tagBlock.end()));
    EXPECT_FALSE(Id3v1Tag().readLast(shorter.get()));
    MemStream none(zeros(1000));
    EXPECT_FALSE(Id3v1Tag().readLast(none.get()));
}

}  // namespace
