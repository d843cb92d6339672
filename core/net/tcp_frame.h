// The TCP frame both TCP protocols travel in:
//   u8 marker (0xE3) | u32 LE length of opcode + payload | u8 opcode | payload
#pragma once

#include <cstdint>

constexpr uint8_t kFrameMarker = 0xE3;
constexpr int kFrameHeaderSize = 5;  // marker and length
// The largest length a frame may announce: well above the largest message
// either protocol sends (file lists, search results). A frame announcing
// more, or 0 (no opcode), drops the connection.
constexpr uint32_t kMaxFrameLength = 4u * 1024u * 1024u;
