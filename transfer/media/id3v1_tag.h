// Id3v1Tag: the 128-byte tag block at the end of an audio file.
//
// Layout (texts padded with 0 bytes, no terminator when full):
//   0   3  "TAG"
//   3  30  title
//  33  30  artist
//  63  30  album
//  93   4  year, decimal text
//  97  30  comment (version 1.0)
//      28  comment, then 125: 0 and 126: track number (version 1.1)
// 127   1  genre index
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int kId3v1Size = 128;
constexpr int kId3v1TitleAt = 3;
constexpr int kId3v1ArtistAt = 33;
constexpr int kId3v1AlbumAt = 63;
constexpr int kId3v1YearAt = 93;
constexpr int kId3v1YearSize = 4;
constexpr int kId3v1CommentAt = 97;
constexpr int kId3v1TextSize = 30;
constexpr int kId3v1CommentSize11 = 28;
constexpr int kId3v1ZeroAt = 125;
constexpr int kId3v1TrackAt = 126;
constexpr int kId3v1GenreAt = 127;

// Genre names by index; indexes from here on are "not supported".
constexpr int kId3v1GenreCount = 126;
// The genre byte of a tag made here without one.
constexpr uint8_t kId3v1NoGenre = 255;

class Id3v1Tag {
public:
    Id3v1Tag();

    // False (and nothing changed) unless the block starts with "TAG";
    // otherwise every field is taken: texts lose trailing blanks and
    // 0 bytes; version 1.1 when byte 125 is 0 and byte 126 is not.
    bool parse(const uint8_t* block);
    // The 128-byte block of the current fields.
    void serialize(uint8_t* block) const;
    // Parses the stream's last 128 bytes; false when they are no tag or
    // the stream is shorter.
    bool readLast(FILE* stream);

    const char* title() const { return title_; }
    const char* artist() const { return artist_; }
    const char* album() const { return album_; }
    const char* comment() const { return comment_; }
    int year() const { return year_; }
    int track() const { return track_; }
    float version() const { return version_; }
    uint8_t genre() const { return genre_; }
    const char* genreName() const { return genreName(genre_); }

    // Texts are cut to 30 characters (the comment to 28 in version 1.1,
    // when it is written).
    void setTitle(const char* text);
    void setArtist(const char* text);
    void setAlbum(const char* text);
    void setComment(const char* text);
    void setYear(int year) { year_ = year; }
    // -1 makes the tag version 1.0; 0 to 255 version 1.1 with that track.
    void setTrack(int track);
    void setGenre(uint8_t genre) { genre_ = genre; }

    // The name of a genre index; "not supported" from 126 on.
    static const char* genreName(int index);
    // The index of a genre name (exact match), -1 when it is not listed.
    static int genreIndex(const char* name);

private:
    char title_[kId3v1TextSize + 1];
    char artist_[kId3v1TextSize + 1];
    char album_[kId3v1TextSize + 1];
    char comment_[kId3v1TextSize + 1];
    int year_ = 0;
    int track_ = 0;
    float version_ = 1.0f;
    uint8_t genre_ = kId3v1NoGenre;
};
