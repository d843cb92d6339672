// VorbisTag: the stream information and the comments of a FLAC file, as
// its metadata blocks hold them.
//
// FLAC file: "fLaC", then metadata blocks, each
//   u8 (bit 7 last block, bits 6-0 type) | u24 BE length | length bytes
// Type 0, stream information (34 bytes; big-endian bit fields):
//   0 u16 min block | 2 u16 max block | 4 u24 min frame | 7 u24 max frame |
//   10: sample rate 20 bits, channels - 1 3 bits, bits per sample - 1
//   5 bits, total samples 36 bits (low 4 bits of byte 13, bytes 14-17) |
//   18 16-byte MD5 signature of the decoded audio
// Type 4, comments (little-endian counts):
//   u32 vendor length | vendor | u32 count | count x (u32 length | "NAME=value")
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "v4ada/containers/unique_id.h"

constexpr int kFlacStreamInfoType = 0;
constexpr int kFlacCommentType = 4;
constexpr int kFlacBlockHeaderSize = 4;
constexpr int kFlacStreamInfoSize = 34;
constexpr int kFlacMd5At = 18;
// The vendor text keeps at most this many bytes.
constexpr int kVorbisVendorMax = 127;
// What one file may cost the reader, whatever its blocks claim: the walk
// looks at this many blocks at most, reads this much of the comment block
// and keeps this many comments. Real files stay far below all three.
constexpr int kFlacBlocksWalkedMax = 256;
constexpr uint32_t kFlacCommentBytesMax = 128 * 1024;
constexpr int kFlacCommentsMax = 256;

class VorbisTag {
public:
    VorbisTag() = default;
    virtual ~VorbisTag() = default;

    // Walks the metadata blocks behind the 4-byte "fLaC" of the stream up
    // to the comment block. False when a block header or block cannot be
    // read in full or a length inside reaches beyond its block or the file.
    // The walk ends (true) after kFlacBlocksWalkedMax blocks; of a comment
    // block larger than kFlacCommentBytesMax only the comments that lie
    // whole in its first kFlacCommentBytesMax bytes are taken, and never
    // more than kFlacCommentsMax.
    bool read(FILE* stream);
    // Back to the empty state of a new tag.
    void clear();

    // For comment `index` of the form "NAME=value" whose name and value
    // are each shorter than size: copies both and returns true. Otherwise
    // (no '=', too long, no such comment) the buffers stay untouched.
    bool comment(int index, char* name, char* value, int size) const;
    // The play time text, empty unless the total samples and the sample
    // rate are known.
    std::string durationText() const;

    int commentCount() const { return static_cast<int>(comments_.size()); }
    const std::string& rawComment(int index) const { return comments_[index]; }
    uint32_t sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    int bitsPerSample() const { return bitsPerSample_; }
    uint64_t totalSamples() const { return totalSamples_; }
    const std::string& vendor() const { return vendor_; }
    const UniqueID& md5() const { return md5_; }

private:
    void takeStreamInfo(const uint8_t* info);
        // `held` bytes of the block of `length` bytes are in memory; running
    // out of them ends the list, running out of the block is a fault.
    bool takeComments(const uint8_t* block, uint32_t held, uint32_t length);

    uint32_t sampleRate_ = 0;
    int channels_ = 0;
    int bitsPerSample_ = 0;
    uint64_t totalSamples_ = 0;
    std::string vendor_;
    std::vector<std::string> comments_;
    UniqueID md5_;
};
