// Byte builders for wire and disk layouts in tests: little-endian fields,
// texts, identifiers and TCP frames, concatenated with cat().
//
//   Bytes record = cat({le16(3), text("abc"), le32(7), id_bytes(hash)});
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

class UniqueID;

namespace support {

using Bytes = std::vector<uint8_t>;

Bytes u8(uint8_t v);
Bytes le16(uint16_t v);
Bytes le32(uint32_t v);
Bytes le64(uint64_t v);
// The characters without terminator or length.
Bytes text(std::string_view s);
// A u16 LE length and the characters (the library's counted string).
Bytes counted_text(std::string_view s);
// The 16 bytes of an identifier or hash.
Bytes id_bytes(const UniqueID& id);
// Its 32 lower-case hexadecimal digits.
std::string hex_text(const UniqueID& id);
// The concatenation of the pieces.
Bytes cat(std::initializer_list<Bytes> pieces);

// Conversions between the two forms tests keep bytes in.
std::string as_text(const Bytes& bytes);
Bytes as_bytes(std::string_view text);

// A TCP frame: marker, u32 LE length of opcode and payload, opcode,
// payload.
std::string tcp_frame(uint8_t opcode, std::string_view payload, uint8_t marker = 0xE3);

}  // namespace support
