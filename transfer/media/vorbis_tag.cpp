#include "transfer/media/vorbis_tag.h"

#include <cstring>

#include "transfer/media/duration_text.h"
#include "transfer/media/media_stream.h"

void VorbisTag::clear() { *this = VorbisTag(); }

bool VorbisTag::read(FILE* stream) {
    clear();
    uint64_t size = 0;
    if (!media_stream_size(stream, &size)) return false;
    uint64_t position = 4;
    bool haveInfo = false;
    for (int walked = 0; walked < kFlacBlocksWalkedMax; walked++) {
        uint8_t header[kFlacBlockHeaderSize];
        if (!media_read_at(stream, position, header, sizeof header)) return false;
        position += kFlacBlockHeaderSize;
        bool last = (header[0] & 0x80) != 0;
        int type = header[0] & 0x7F;
        uint32_t length = uint32_t(header[1]) << 16 | uint32_t(header[2]) << 8 | header[3];
        if (length > size - position) return false;

        if (type == kFlacStreamInfoType && !haveInfo) {
            // A short block gives zeros for what it lacks.
            uint8_t info[kFlacStreamInfoSize] = {};
            uint32_t take = length < kFlacStreamInfoSize ? length : kFlacStreamInfoSize;
            if (!media_read_at(stream, position, info, take)) return false;
            takeStreamInfo(info);
            haveInfo = true;
        } else if (type == kFlacCommentType) {
            uint32_t held = length < kFlacCommentBytesMax ? length : kFlacCommentBytesMax;
            std::vector<uint8_t> block(held);
            if (!media_read_at(stream, position, block.data(), held)) return false;
            return takeComments(block.data(), held, length);
        }
        position += length;
        if (last || position >= size) return true;
    }
    return true;
}

void VorbisTag::takeStreamInfo(const uint8_t* info) {
    sampleRate_ = uint32_t(info[10]) << 12 | uint32_t(info[11]) << 4 | info[12] >> 4;
    channels_ = ((info[12] >> 1) & 7) + 1;
    bitsPerSample_ = ((info[12] & 1) << 4 | info[13] >> 4) + 1;
    totalSamples_ = uint64_t(info[13] & 15) << 32 | uint64_t(info[14]) << 24 | uint64_t(info[15]) << 16 |
                    uint64_t(info[16]) << 8 | info[17];
    md5_.copy(info + kFlacMd5At);
}

bool VorbisTag::takeComments(const uint8_t* block, uint32_t held, uint32_t length) {
    uint32_t at = 0;
    auto left = [&] { return length - at; };
    auto inHand = [&] { return held - at; };
    if (left() < 4) return false;
    if (inHand() < 4) return true;
    uint32_t vendorLength = media_le32(block + at);
    at += 4;
    if (vendorLength > left()) return false;
    uint32_t vendorHeld = vendorLength < inHand() ? vendorLength : inHand();
    size_t keep = strnlen(reinterpret_cast<const char*>(block + at),
                          vendorHeld < kVorbisVendorMax ? vendorHeld : kVorbisVendorMax);
    vendor_.assign(reinterpret_cast<const char*>(block + at), keep);
    at += vendorLength;

    if (left() < 4) return false;
    if (at > held || inHand() < 4) return true;
    uint32_t count = media_le32(block + at);
    at += 4;
    // Each comment takes at least its 4-byte length.
    if (count > left() / 4) return false;
    const auto most = static_cast<size_t>(kFlacCommentsMax);
    comments_.reserve(count < most ? count : most);
    for (uint32_t i = 0; i < count && comments_.size() < most; i++) {
        if (left() < 4) return false;
        if (at > held || inHand() < 4) return true;
        uint32_t n = media_le32(block + at);
        at += 4;
        if (n > left()) return false;
        if (n > inHand()) return true;
        comments_.emplace_back(reinterpret_cast<const char*>(block + at), n);
        at += n;
    }
    return true;
}

bool VorbisTag::comment(int index, char* name, char* value, int size) const {
    if (index < 0 || index >= commentCount() || size <= 0) return false;
    const std::string& text = comments_[index];
    size_t equals = text.find('=');
    if (equals == std::string::npos) return false;
    size_t valueLength = text.size() - equals - 1;
    if (equals >= static_cast<size_t>(size) || valueLength >= static_cast<size_t>(size)) return false;
    std::memcpy(name, text.data(), equals);
    name[equals] = 0;
    std::memcpy(value, text.data() + equals + 1, valueLength);
    value[valueLength] = 0;
    return true;
}

std::string VorbisTag::durationText() const {
    if (totalSamples_ == 0 || sampleRate_ == 0) return std::string();
    return media_duration_text(totalSamples_ / sampleRate_);
}
