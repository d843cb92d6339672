// Limits of the record readers. Lengths and counts taken from a file or a
// packet are checked against the bytes the stream still holds and against
// these caps before anything is allocated or looped over.
#pragma once

#include <cstdint>

#include "v4ada/file/file.h"

constexpr uint32_t kTagNameReadMax = 100;     // longer names are cut
constexpr uint32_t kTagStringReadMax = 128;   // longer strings are cut
constexpr uint32_t kTagBlobMax = 16u << 20;   // a larger blob fails its tag
constexpr uint32_t kTagMinEncoded = 4;        // type, u16 name length 0, 1 value byte
constexpr int32_t kMetaMaxTags = 1 << 20;
constexpr uint32_t kMetaMinEncoded = 4;       // u32 tag count
constexpr int32_t kMetaListMaxEntries = 1 << 22;
// A user record sent by a peer (hellos): far above what any client sends,
// low enough that a connection cannot make each copy of it a heap of tags.
// Records read from our own files keep the caps above.
constexpr int32_t kPeerUserMaxTags = 256;
constexpr uint32_t kPeerUserMaxTagBytes = 32u * 1024u;

// Bytes between the stream's position and its end (0 when past it).
inline i4_pos bytesLeft(i4_file* file) {
    i4_pos size = file->size();
    i4_pos at = file->tell();
    return size > at ? size - at : 0;
}
