#include "transfer/media/id3v1_tag.h"

#include <cstdio>
#include <cstring>

#include "transfer/media/media_stream.h"

namespace {

const char* const kGenres[kId3v1GenreCount] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop",
    "Jazz", "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap",
    "Reggae", "Rock", "Techno", "Industrial", "Alternative", "Ska", "Death Metal", "Pranks",
    "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance",
    "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise",
    "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
    "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic",
    "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
    "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
    "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz",
    "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock",
    "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic",
    "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
    "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony",
    "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba",
    "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock",
    "Drum Solo", "A capella", "Euro-House", "Dance Hall",
};

// Copies up to n bytes of a padded field, stopping at a 0 byte, then drops
// trailing blanks.
void takeText(char* out, const uint8_t* field, int n) {
    int length = 0;
    while (length < n && field[length] != 0) length++;
    while (length > 0 && field[length - 1] == ' ') length--;
    std::memcpy(out, field, length);
    out[length] = 0;
}

void setText(char* out, const char* text) {
    int length = 0;
    if (text != nullptr)
        while (length < kId3v1TextSize && text[length] != 0) length++;
    if (length > 0) std::memcpy(out, text, length);
    out[length] = 0;
}

void putText(uint8_t* field, const char* text, int n) {
    int length = static_cast<int>(strnlen(text, n));
    std::memcpy(field, text, length);
}

}  // namespace

Id3v1Tag::Id3v1Tag() {
    title_[0] = artist_[0] = album_[0] = comment_[0] = 0;
}

bool Id3v1Tag::parse(const uint8_t* block) {
    if (std::memcmp(block, "TAG", 3) != 0) return false;
    takeText(title_, block + kId3v1TitleAt, kId3v1TextSize);
    takeText(artist_, block + kId3v1ArtistAt, kId3v1TextSize);
    takeText(album_, block + kId3v1AlbumAt, kId3v1TextSize);
    int year = 0;
    for (int i = 0; i < kId3v1YearSize; i++) {
        uint8_t c = block[kId3v1YearAt + i];
        if (c < '0' || c > '9') break;
        year = year * 10 + (c - '0');
    }
    year_ = year;
    if (block[kId3v1ZeroAt] == 0 && block[kId3v1TrackAt] != 0) {
        version_ = 1.1f;
        track_ = block[kId3v1TrackAt];
        takeText(comment_, block + kId3v1CommentAt, kId3v1CommentSize11);
    } else {
        version_ = 1.0f;
        track_ = 0;
        takeText(comment_, block + kId3v1CommentAt, kId3v1TextSize);
    }
    genre_ = block[kId3v1GenreAt];
    return true;
}

void Id3v1Tag::serialize(uint8_t* block) const {
    std::memset(block, 0, kId3v1Size);
    std::memcpy(block, "TAG", 3);
    putText(block + kId3v1TitleAt, title_, kId3v1TextSize);
    putText(block + kId3v1ArtistAt, artist_, kId3v1TextSize);
    putText(block + kId3v1AlbumAt, album_, kId3v1TextSize);
    if (year_ > 0 && year_ <= 9999) {
        char digits[8];
        int n = std::snprintf(digits, sizeof digits, "%d", year_);
        std::memcpy(block + kId3v1YearAt, digits, n);
    }
    bool v11 = version_ > 1.05f;
    putText(block + kId3v1CommentAt, comment_, v11 ? kId3v1CommentSize11 : kId3v1TextSize);
    if (v11) {
        block[kId3v1ZeroAt] = 0;
        block[kId3v1TrackAt] = static_cast<uint8_t>(track_);
    }
    block[kId3v1GenreAt] = genre_;
}

bool Id3v1Tag::readLast(FILE* stream) {
    uint64_t size = 0;
    if (!media_stream_size(stream, &size) || size < kId3v1Size) return false;
    uint8_t block[kId3v1Size];
    if (!media_read_at(stream, size - kId3v1Size, block, kId3v1Size)) return false;
    return parse(block);
}

void Id3v1Tag::setTitle(const char* text) { setText(title_, text); }
void Id3v1Tag::setArtist(const char* text) { setText(artist_, text); }
void Id3v1Tag::setAlbum(const char* text) { setText(album_, text); }
void Id3v1Tag::setComment(const char* text) { setText(comment_, text); }

void Id3v1Tag::setTrack(int track) {
    if (track == -1) {
        version_ = 1.0f;
        track_ = 0;
    } else if (track >= 0 && track <= 255) {
        version_ = 1.1f;
        track_ = track;
    }
}

const char* Id3v1Tag::genreName(int index) {
    if (index < 0 || index >= kId3v1GenreCount) return "not supported";
    return kGenres[index];
}

int Id3v1Tag::genreIndex(const char* name) {
    if (name == nullptr) return -1;
    for (int i = 0; i < kId3v1GenreCount; i++)
        if (std::strcmp(kGenres[i], name) == 0) return i;
    return -1;
}
