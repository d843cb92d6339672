// AviHeader: the header list of an AVI file, walked chunk by chunk.
//
// File start (sizes u32 little-endian):
//   0 "RIFF" | 4 size | 8 "AVI " | 12 "LIST" | 16 list size S | 20 "hdrl" |
//   24: S - 4 bytes of chunks
// Chunk: fourcc | u32 size | size bytes | a pad byte when size is odd.
// A "LIST" chunk's size counts its 4-byte list type; "strl" lists hold
// one stream's chunks.
//   "avih" main header, 56 bytes
//   "strh" stream header, 64 bytes: 0 type ("vids", "auds") | 4 handler |
//          8 flags | 12 priority, language | 16 initial frames | 20 scale |
//          24 rate | 28 start | 32 length | ... (many files write 56)
//   "strf" stream format: video 40 bytes, audio 20 bytes (u16 format code
//          first; PCM files write 16)
//   "strn" stream name
#pragma once

#include <cstdint>
#include <string>

class i4_file;

constexpr uint32_t kAviFileHeaderSize = 24;
constexpr uint32_t kAviChunkHeaderSize = 8;
constexpr uint32_t kAviMainHeaderSize = 56;
constexpr uint32_t kAviStreamHeaderSize = 64;
constexpr uint32_t kAviVideoFormatSize = 40;
constexpr uint32_t kAviAudioFormatSize = 20;
constexpr uint32_t kAviHandlerAt = 4;
constexpr uint32_t kAviScaleAt = 20;
constexpr uint32_t kAviRateAt = 24;
constexpr uint32_t kAviLengthAt = 32;
// The largest header list read.
constexpr uint32_t kAviHeaderListMax = 1024 * 1024;
// Stream names keep at most this many bytes.
constexpr size_t kAviStreamNameMax = 255;

constexpr int kAviFormatPcm = 1;
constexpr int kAviFormatMpeg = 80;
constexpr int kAviFormatMp3 = 85;

class AviHeader {
public:
    AviHeader();

    // Reads the file header and the header list from the file's position
    // 0 and walks it. False when the file is no AVI, the list does not fit
    // its bounds (the file, 1 MiB), or the walk fails.
    bool read(i4_file* file);
    // Walks the content of a header list (after "hdrl"). False when a
    // chunk reaches beyond its list or the main header is not 56 bytes
    // (which is reported on standard error).
    bool walk(const uint8_t* data, uint32_t n);

    bool hasVideo() const { return hasVideo_; }
    bool hasAudio() const { return hasAudio_; }
    const uint8_t* mainHeader() const { return main_; }
    const uint8_t* videoStreamHeader() const { return videoHeader_; }
    const uint8_t* audioStreamHeader() const { return audioHeader_; }
    const uint8_t* videoFormat() const { return videoFormat_; }
    const uint8_t* audioFormat() const { return audioFormat_; }
    const std::string& videoName() const { return videoName_; }
    const std::string& audioName() const { return audioName_; }

    // The video handler code as text (up to 4 characters); empty without a
    // video stream header.
    std::string codec() const;
    // The video play time: length x scale / rate; false without a video
    // stream header or with a rate or scale of 0.
    bool lengthSeconds(uint64_t* seconds) const;
    // "%d:%2d" of hours and minutes; empty when there is no length.
    std::string lengthText() const;
    int audioFormatCode() const;
    // "PCM", "MPEG", "MP3" or "Unknown format (<code>)".
    static std::string audioFormatName(int code);

private:
    enum class Stream { kNone, kVideo, kAudio };
    bool walkList(const uint8_t* data, uint32_t n, int depth);

    uint8_t main_[kAviMainHeaderSize];
    uint8_t videoHeader_[kAviStreamHeaderSize];
    uint8_t audioHeader_[kAviStreamHeaderSize];
    uint8_t videoFormat_[kAviVideoFormatSize];
    uint8_t audioFormat_[kAviAudioFormatSize];
    std::string videoName_;
    std::string audioName_;
    bool hasVideo_ = false;
    bool hasAudio_ = false;
    Stream current_ = Stream::kNone;
};
