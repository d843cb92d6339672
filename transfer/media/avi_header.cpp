#include "transfer/media/avi_header.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "transfer/media/media_stream.h"
#include "v4ada/error/error.h"
#include "v4ada/file/file.h"

namespace {

bool isCode(const uint8_t* p, const char* code) { return std::memcmp(p, code, 4) == 0; }

// Copies min(n, size) bytes and zeroes the rest of the record.
void copyRecord(uint8_t* record, uint32_t size, const uint8_t* data, uint32_t n) {
    uint32_t take = n < size ? n : size;
    std::memcpy(record, data, take);
    std::memset(record + take, 0, size - take);
}

}  // namespace

AviHeader::AviHeader() {
    std::memset(main_, 0, sizeof main_);
    std::memset(videoHeader_, 0, sizeof videoHeader_);
    std::memset(audioHeader_, 0, sizeof audioHeader_);
    std::memset(videoFormat_, 0, sizeof videoFormat_);
    std::memset(audioFormat_, 0, sizeof audioFormat_);
}

bool AviHeader::read(i4_file* file) {
    *this = AviHeader();
    try {
        uint8_t start[kAviFileHeaderSize];
        file->seek(0);
        file->readAll(start, sizeof start);
        if (!isCode(start, "RIFF") || !isCode(start + 8, "AVI ")) return false;
        if (!isCode(start + 12, "LIST") || !isCode(start + 20, "hdrl")) return false;
        uint32_t listSize = media_le32(start + 16);
        if (listSize < 4) return false;
        uint32_t content = listSize - 4;
        i4_pos size = file->size();
        if (content > kAviHeaderListMax || size < kAviFileHeaderSize || content > size - kAviFileHeaderSize)
            return false;
        std::vector<uint8_t> list(content);
        if (content > 0) file->readAll(list.data(), static_cast<int>(content));
        return walk(list.data(), content);
    } catch (const i4_err&) {
        return false;
    }
}

bool AviHeader::walk(const uint8_t* data, uint32_t n) { return walkList(data, n, 0); }

bool AviHeader::walkList(const uint8_t* data, uint32_t n, int depth) {
    uint32_t at = 0;
    // Fewer bytes than a chunk header at the end are padding.
    while (n - at >= kAviChunkHeaderSize) {
        const uint8_t* code = data + at;
        uint32_t size = media_le32(data + at + 4);
        at += kAviChunkHeaderSize;
        if (size > n - at) return false;
        const uint8_t* body = data + at;

        if (isCode(code, "avih")) {
            if (size != kAviMainHeaderSize) {
                std::fputs("AVI header not correct size!\n", stderr);
                return false;
            }
            std::memcpy(main_, body, kAviMainHeaderSize);
        } else if (isCode(code, "LIST")) {
            if (size < 4) return false;
            // Stream lists sit directly in the header list.
            if (depth == 0 && isCode(body, "strl") && !walkList(body + 4, size - 4, depth + 1)) return false;
        } else if (isCode(code, "strh")) {
            uint8_t type[4] = {};
            std::memcpy(type, body, size < 4 ? size : 4);
            if (isCode(type, "vids")) {
                copyRecord(videoHeader_, kAviStreamHeaderSize, body, size);
                hasVideo_ = true;
                current_ = Stream::kVideo;
            } else if (isCode(type, "auds")) {
                copyRecord(audioHeader_, kAviStreamHeaderSize, body, size);
                hasAudio_ = true;
                current_ = Stream::kAudio;
            } else {
                current_ = Stream::kNone;
            }
        } else if (isCode(code, "strf")) {
            if (current_ == Stream::kVideo)
                copyRecord(videoFormat_, kAviVideoFormatSize, body, size);
            else if (current_ == Stream::kAudio)
                copyRecord(audioFormat_, kAviAudioFormatSize, body, size);
        } else if (isCode(code, "strn")) {
            size_t length = strnlen(reinterpret_cast<const char*>(body), size < kAviStreamNameMax ? size : kAviStreamNameMax);
            std::string name(reinterpret_cast<const char*>(body), length);
            if (current_ == Stream::kVideo)
                videoName_ = name;
            else if (current_ == Stream::kAudio)
                audioName_ = name;
        }

        at += size;
        if ((size & 1) && at < n) at++;
    }
    return true;
}

std::string AviHeader::codec() const {
    if (!hasVideo_) return std::string();
    const char* handler = reinterpret_cast<const char*>(videoHeader_ + kAviHandlerAt);
    return std::string(handler, strnlen(handler, 4));
}

bool AviHeader::lengthSeconds(uint64_t* seconds) const {
    if (!hasVideo_) return false;
    uint64_t scale = media_le32(videoHeader_ + kAviScaleAt);
    uint64_t rate = media_le32(videoHeader_ + kAviRateAt);
    uint64_t length = media_le32(videoHeader_ + kAviLengthAt);
    if (scale == 0 || rate == 0) return false;
    // length / (rate / scale), exact in integers (the product fits 64 bits).
    *seconds = length * scale / rate;
    return true;
}

std::string AviHeader::lengthText() const {
    uint64_t seconds = 0;
    if (!lengthSeconds(&seconds)) return std::string();
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%2llu", static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60));
    return text;
}

int AviHeader::audioFormatCode() const { return audioFormat_[0] | audioFormat_[1] << 8; }

std::string AviHeader::audioFormatName(int code) {
    switch (code) {
        case kAviFormatPcm:
            return "PCM";
        case kAviFormatMpeg:
            return "MPEG";
        case kAviFormatMp3:
            return "MP3";
        default: {
            char text[40];
            std::snprintf(text, sizeof text, "Unknown format (%d)", code);
            return text;
        }
    }
}
