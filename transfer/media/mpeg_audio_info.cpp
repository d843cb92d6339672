#include "transfer/media/mpeg_audio_info.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "transfer/media/duration_text.h"
#include "transfer/media/media_stream.h"

namespace {

// kbit/s by [row][bit-rate index]; rows: MPEG 1 Layer I, II, III, then
// MPEG 2 and 2.5 Layer I, Layers II and III.
const int kBitrates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};

// Hz by [version code][sample-rate index]; version code 1 is reserved.
const int kSampleRates[4][3] = {
    {11025, 12000, 8000},
    {0, 0, 0},
    {22050, 24000, 16000},
    {44100, 48000, 32000},
};

const char* const kChannelModes[4] = {"Stereo", "Joint Stereo", "Dual Channel", "Single Channel"};

// The largest side-information length: the Xing header lies within this
// many bytes behind a frame header's 4 bytes.
constexpr int kMaxSideInfo = 32;

bool isNotApplicable(const char* text) { return text != nullptr && std::strcmp(text, "n/a") == 0; }

}  // namespace

bool MpegAudioInfo::isValidHeader(uint32_t word) {
    if ((word >> 21) != 0x7FF) return false;
    if (((word >> 19) & 3) == 1) return false;
    if (((word >> 17) & 3) == 0) return false;
    int bitrate = (word >> 12) & 15;
    if (bitrate == 0 || bitrate == 15) return false;
    if (((word >> 10) & 3) == 3) return false;
    return (word & 3) != 2;
}

uint64_t MpegAudioInfo::id3v2Length(const uint8_t* head, size_t n) {
    if (n < static_cast<size_t>(kId3v2HeaderSize) || std::memcmp(head, "ID3", 3) != 0) return 0;
    if (head[3] == 0xFF || head[4] == 0xFF) return 0;
    uint64_t size = 0;
    for (int i = 6; i < 10; i++) {
        if (head[i] & 0x80) return 0;
        size = size << 7 | head[i];
    }
    uint64_t length = kId3v2HeaderSize + size;
    if (head[5] & 0x10) length += kId3v2FooterSize;
    return length;
}

int MpegAudioInfo::read(const char* path) {
    MediaStream stream(path);
    if (stream.get() == nullptr) {
        *this = MpegAudioInfo();
        path_ = path != nullptr ? path : "";
        return -1;
    }
    return read(stream.get(), path);
}

int MpegAudioInfo::read(FILE* stream, const char* path) {
    *this = MpegAudioInfo();
    path_ = path != nullptr ? path : "";
    if (!media_stream_size(stream, &fileSize_)) return -1;

    uint8_t head[kId3v2HeaderSize];
    size_t got = media_read_some_at(stream, 0, head, sizeof head);
    uint64_t start = id3v2Length(head, got);
    if (start >= fileSize_) return 1;
    id3v2Length_ = start;

    // One read covers every position of the window, its 4 header bytes and
    // a Xing header behind the last of them.
    uint64_t want = std::min<uint64_t>(fileSize_ - start, kMpegSearchWindow + 4 + kMaxSideInfo + kXingHeaderSize);
    std::vector<uint8_t> window(want);
    size_t n = media_read_some_at(stream, start, window.data(), window.size());
    if (n < 4) return 1;

    size_t last = std::min<size_t>(kMpegSearchWindow, n - 4);
    size_t p = 0;
    for (; p <= last; p++)
        if (isValidHeader(media_be32(&window[p]))) break;
    if (p > last) return 1;
    header_ = media_be32(&window[p]);
    headerPosition_ = start + p;

    int sideInfo;
    bool mono = channelMode() == 3;
    if (versionCode() == kMpegVersion1)
        sideInfo = mono ? 17 : 32;
    else
        sideInfo = mono ? 9 : 17;
    size_t xing = p + 4 + sideInfo;
    if (xing + kXingHeaderSize <= n && std::memcmp(&window[xing], "Xing", 4) == 0) {
        hasXing_ = true;
        uint32_t flags = media_be32(&window[xing + 4]);
        xingFrames_ = (flags & 1) ? static_cast<int32_t>(media_be32(&window[xing + 8])) : -1;
    }

    hasId3_ = id3_.readLast(stream);
    return 0;
}

double MpegAudioInfo::versionNumber() const {
    switch (versionCode()) {
        case kMpegVersion1:
            return 1;
        case kMpegVersion2:
            return 2;
        default:
            return 2.5;
    }
}

int MpegAudioInfo::layer() const {
    int field = (header_ >> 17) & 3;
    return field == 0 ? 0 : 4 - field;
}

int MpegAudioInfo::sampleRate() const {
    int index = (header_ >> 10) & 3;
    return index == 3 ? 0 : kSampleRates[versionCode()][index];
}

const char* MpegAudioInfo::channelModeName() const { return kChannelModes[channelMode()]; }

int MpegAudioInfo::tableBitrate() const {
    int layerNumber = layer();
    if (layerNumber == 0) return 0;
    int row;
    if (versionCode() == kMpegVersion1)
        row = layerNumber - 1;
    else
        row = layerNumber == 1 ? 3 : 4;
    return kBitrates[row][bitrateIndex()];
}

int MpegAudioInfo::frameFactor() const {
    // Samples per frame / 8: 384 for Layer I, 1152 for Layer II and for
    // MPEG 1 Layer III, 576 for MPEG 2 and 2.5 Layer III.
    int layerNumber = layer();
    if (layerNumber == 1) return 48;
    if (layerNumber == 3 && versionCode() != kMpegVersion1) return 72;
    return 144;
}

int MpegAudioInfo::bitrate() const {
    if (!xingUsable()) return tableBitrate();
    double frameBytes = static_cast<double>(audioBytes()) / xingFrames_;
    double rate = sampleRate() * frameBytes / (frameFactor() * 1000.0);
    return rate >= 0 && rate < 2147483647.0 ? static_cast<int>(rate) : 0;
}

uint64_t MpegAudioInfo::durationSeconds() const {
    int rate = bitrate();
    if (rate <= 0) return 0;
    // size x 8 / 1000, without the overflow of the product.
    return audioBytes() / 125 / static_cast<uint64_t>(rate);
}

std::string MpegAudioInfo::durationText() const { return media_duration_text(durationSeconds()); }

int64_t MpegAudioInfo::frameCount() const {
    if (xingUsable()) return xingFrames_;
    int rate = tableBitrate();
    int hz = sampleRate();
    if (rate <= 0 || hz <= 0) return 0;
    double frameBytes = static_cast<double>(rate) * 1000.0 / hz * frameFactor();
    return static_cast<int64_t>(static_cast<double>(audioBytes()) / frameBytes);
}

std::string MpegAudioInfo::description() const {
    char text[40];
    static const char* const kLayers[4] = {"", "I", "II", "III"};
    std::snprintf(text, sizeof text, "MPEG %g Layer %s", versionNumber(), kLayers[layer()]);
    return text;
}

bool MpegAudioInfo::writeTag(const char* title, const char* artist, const char* album, int year,
                             const char* comment, int track, const char* genre) {
    if (path_.empty()) return false;
    if (title != nullptr && !isNotApplicable(title)) id3_.setTitle(title);
    if (artist != nullptr && !isNotApplicable(artist)) id3_.setArtist(artist);
    if (album != nullptr && !isNotApplicable(album)) id3_.setAlbum(album);
    if (comment != nullptr && !isNotApplicable(comment)) id3_.setComment(comment);
    if (year >= 1000 && year <= 3000) id3_.setYear(year);
    id3_.setTrack(track);
    int index = Id3v1Tag::genreIndex(genre);
    if (index >= 0) id3_.setGenre(static_cast<uint8_t>(index));

    uint8_t block[kId3v1Size];
    id3_.serialize(block);

    MediaStream stream(path_.c_str(), "r+b");
    if (stream.get() == nullptr) return false;
    uint64_t size = 0;
    if (!media_stream_size(stream.get(), &size)) return false;
    // Over the existing tag, else at the end.
    uint64_t at = size;
    uint8_t magic[3];
    if (size >= kId3v1Size && media_read_at(stream.get(), size - kId3v1Size, magic, 3) &&
        std::memcmp(magic, "TAG", 3) == 0)
        at = size - kId3v1Size;
    if (fseeko(stream.get(), static_cast<off_t>(at), SEEK_SET) != 0) return false;
    if (fwrite(block, 1, kId3v1Size, stream.get()) != kId3v1Size) return false;
    if (!stream.close()) return false;
    hasId3_ = true;
    fileSize_ = at + kId3v1Size;
    if (id3v2Length_ > fileSize_) id3v2Length_ = 0;
    return true;
}
