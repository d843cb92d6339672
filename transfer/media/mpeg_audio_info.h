// MpegAudioInfo: what the first MPEG audio frame header of a file, an
// optional Xing header behind it and the ID3v1 tag at the end tell about
// an audio file: version, layer, rates, bit rate and play time.
//
// Frame header: a 32-bit big-endian word.
//   31-21 sync (all ones)       20-19 version: 0 MPEG 2.5, 1 reserved, 2 MPEG 2, 3 MPEG 1
//   18-17 layer: 1 III, 2 II, 3 I, 0 reserved        16 protection
//   15-12 bit-rate index: 0 free, 15 bad             11-10 sample-rate index, 3 reserved
//   9 padding   8 private   7-6 channel mode   5-4 mode extension
//   3 copyright   2 original   1-0 emphasis, 2 reserved
// Xing header, at the frame start + 4 + the side-information length
// (17 MPEG 1 mono, 32 MPEG 1 otherwise, 9 MPEG 2/2.5 mono, 17 otherwise):
//   "Xing" | u32 BE flags | u32 BE frame count (present with flag bit 0)
// ID3v2 tag at the start of a file, skipped before the frame search:
//   "ID3" | u8 major | u8 revision | u8 flags | 4 bytes synchsafe size
//   (7 bits each, big-endian) | size bytes | 10-byte footer (flag 0x10)
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "transfer/media/id3v1_tag.h"

// Frame headers are looked for starting at every position from 0 to this
// one, counted from the end of a leading ID3v2 tag.
constexpr uint64_t kMpegSearchWindow = 204800;
constexpr int kId3v2HeaderSize = 10;
constexpr int kId3v2FooterSize = 10;
constexpr int kXingHeaderSize = 12;

constexpr int kMpegVersion25 = 0;
constexpr int kMpegVersion2 = 2;
constexpr int kMpegVersion1 = 3;

class MpegAudioInfo {
public:
    MpegAudioInfo() = default;

    // Reads the file at the path: 0 on success, non-zero when it cannot
    // be read or holds no valid frame header in the search window.
    int read(const char* path);
    // The same over an open stream; the path is kept for writeTag.
    int read(FILE* stream, const char* path);

    static bool isValidHeader(uint32_t word);
    // The length of an ID3v2 tag starting the bytes (header, body and any
    // footer), 0 when they start no tag. Needs 10 bytes.
    static uint64_t id3v2Length(const uint8_t* head, size_t n);

    uint32_t header() const { return header_; }
    uint64_t headerPosition() const { return headerPosition_; }
    int versionCode() const { return (header_ >> 19) & 3; }
    // 1, 2 or 2.5.
    double versionNumber() const;
    // 1, 2 or 3 (0 before a successful read).
    int layer() const;
    int bitrateIndex() const { return (header_ >> 12) & 15; }
    int sampleRate() const;
    int channelMode() const { return (header_ >> 6) & 3; }
    const char* channelModeName() const;
    // The table rate of the header, kbit/s.
    int tableBitrate() const;

    // kbit/s: the average over the Xing frame count when there is a usable
    // one (flag bit 0, count above 0), else the table rate.
    int bitrate() const;
    uint64_t durationSeconds() const;
    std::string durationText() const;
    int64_t frameCount() const;
    // "MPEG 1 Layer III" and the like.
    std::string description() const;

    bool hasXing() const { return hasXing_; }
    int32_t xingFrameCount() const { return xingFrames_; }
    bool hasId3() const { return hasId3_; }
    const Id3v1Tag& id3() const { return id3_; }
    uint64_t fileSize() const { return fileSize_; }
    // The bytes behind a leading ID3v2 tag: what the rates and the play
    // time are computed from.
    uint64_t audioBytes() const { return fileSize_ - id3v2Length_; }
    const std::string& path() const { return path_; }

    // Sets the tag fields (a text "n/a" leaves its field, a year outside
    // 1000..3000 is ignored, track -1 makes version 1.0 and 0..255 version
    // 1.1, a genre name sets its index and "n/a" or an unknown name keeps
    // it) and writes the block over the file's ID3v1 tag, or appends it
    // when the file has none. False when the file cannot be written.
    bool writeTag(const char* title, const char* artist, const char* album, int year,
                  const char* comment, int track, const char* genre);

private:
    // Bytes per frame per kbit/s of bit rate and Hz of sample rate.
    int frameFactor() const;
    bool xingUsable() const { return hasXing_ && xingFrames_ > 0; }

    uint32_t header_ = 0;
    uint64_t headerPosition_ = 0;
    int32_t xingFrames_ = -1;
    Id3v1Tag id3_;
    bool hasXing_ = false;
    bool hasId3_ = false;
    std::string path_;
    uint64_t fileSize_ = 0;
    uint64_t id3v2Length_ = 0;
};
