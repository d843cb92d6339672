#include "support/bytes.h"

#include "v4ada/containers/unique_id.h"
#include "v4ada/memory/malloc4.h"

namespace support {

Bytes u8(uint8_t v) { return {v}; }
Bytes le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes le64(uint64_t v) { return cat({le32(uint32_t(v)), le32(uint32_t(v >> 32))}); }
Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes counted_text(std::string_view s) { return cat({le16(static_cast<uint16_t>(s.size())), text(s)}); }
Bytes id_bytes(const UniqueID& id) { return Bytes(id.bytes(), id.bytes() + 16); }

std::string hex_text(const UniqueID& id) {
    char* hex = id.toHex();
    std::string out(hex ? hex : "");
    i4_free(hex);
    return out;
}

Bytes cat(std::initializer_list<Bytes> pieces) {
    Bytes out;
    for (const Bytes& piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
    return out;
}

std::string as_text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
Bytes as_bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string tcp_frame(uint8_t opcode, std::string_view payload, uint8_t marker) {
    std::string out(1, static_cast<char>(marker));
    out += as_text(le32(static_cast<uint32_t>(payload.size() + 1)));
    out.push_back(static_cast<char>(opcode));
    out += payload;
    return out;
}

}  // namespace support
