// Opcodes of the client-to-client protocol and their payloads. Every
// message travels in the TCP frame (core/net/tcp_frame.h):
//   u8 0xE3 | u32 LE length (opcode + payload) | u8 opcode | payload
// Integers are little-endian; "hash" is 16 raw bytes; "string" is u16 LE
// length + bytes; "user" is the UserMeta wire form (16 user hash | u32 IP |
// u16 port | u32 tag count | tags); "map" is u16 LE bit count, then
// count/8 + 1 bytes when the count is not 0. "code" is the 4-byte check
// trailer over the message from the opcode on (core/net/check_trailer.h),
// seeded with the sender's TCP port as signed 16-bit.
#pragma once

#include <cstdint>

// u8 16 | user | u32 buddy IP | u16 buddy port | code
constexpr uint8_t ICLT_HELLO = 1;
// (nothing read)
constexpr uint8_t ICLT_OLD_CLIENT = 5;
// hash | u32 start | u32 end | end - start bytes of data
constexpr uint8_t ICLT_DATA = 70;
// hash | u32 start[3] | u32 end[3]
constexpr uint8_t ICLT_PART_REQUEST = 71;
// hash
constexpr uint8_t ICLT_NO_SUCH_FILE = 72;
// hash (not used)
constexpr uint8_t ICLT_FILE_DONE = 73;
// user | u32 buddy IP | u16 buddy port | code
constexpr uint8_t ICLT_HELLO_ANSWER = 76;
// u32 IP | u32 buddy IP
constexpr uint8_t ICLT_SET_ADDRESS = 77;
// string
constexpr uint8_t ICLT_MESSAGE = 78;
// hash
constexpr uint8_t ICLT_FILE_STATUS_REQUEST = 79;
// hash | map (crumbs, parts, or count 0 for the whole file, then one 0 byte)
constexpr uint8_t ICLT_FILE_STATUS = 80;
// hash
constexpr uint8_t ICLT_HASHSET_REQUEST = 81;
// hash | u16 n | n x 16 part hashes
constexpr uint8_t ICLT_HASHSET_ANSWER = 82;
// (none)
constexpr uint8_t ICLT_MESSAGE_REFUSED = 83;
// hash
constexpr uint8_t ICLT_UPLOAD_REQUEST = 84;
// (none)
constexpr uint8_t ICLT_SLOT_OPEN = 85;
// (none)
constexpr uint8_t ICLT_SLOT_RELEASE = 86;
// (none)
constexpr uint8_t ICLT_SLOT_CLOSED = 87;
// hash
constexpr uint8_t ICLT_FILE_NAME_REQUEST = 88;
// hash | string name
constexpr uint8_t ICLT_FILE_NAME = 89;
// u32 IP | u16 port
constexpr uint8_t ICLT_CALLBACK_REQUEST = 90;
// hash
constexpr uint8_t ICLT_HAVE_FILE = 91;
// u32 rank
constexpr uint8_t ICLT_QUEUE_RANK = 92;
// (none)
constexpr uint8_t ICLT_DIRECTORY_LIST_REQUEST = 93;
// string directory
constexpr uint8_t ICLT_DIRECTORY_FILES_REQUEST = 94;
// u32 n | n x string
constexpr uint8_t ICLT_DIRECTORY_LIST = 95;
// string directory | u32 count | count x file record wire form
//   (16 file hash | u32 0 | u16 0 | u32 tag count | tags)
constexpr uint8_t ICLT_DIRECTORY_FILES = 96;
// (none)
constexpr uint8_t ICLT_FILE_VIEW_REFUSED = 97;
// (none)
constexpr uint8_t ICLT_PING = 98;
// (none)
constexpr uint8_t ICLT_PONG = 99;
// (none)
constexpr uint8_t ICLT_PORT_REACHABLE = 100;
// hash
constexpr uint8_t ICLT_PARTNER_REQUEST = 101;
// hash
constexpr uint8_t ICLT_PARTNER_REFUSED = 102;
// hash
constexpr uint8_t ICLT_PARTNER_ACCEPTED = 103;
// hash | hash sets (part hashes, then crumb hashes; core/meta/file_meta.h)
constexpr uint8_t ICLT_FILE_META = 104;
// hash
constexpr uint8_t ICLT_FILE_META_REQUEST = 105;
// hash | u32 crumb index
constexpr uint8_t ICLT_HAVE_CRUMB = 106;
// (none)
constexpr uint8_t ICLT_ADDRESS_MISMATCH = 107;

// The size byte that opens ICLT_HELLO: the length of a user hash.
constexpr uint8_t kHelloHashSize = 16;
// Bytes of the check trailer.
constexpr int kCheckCodeSize = 4;
// Fixed bytes around the own user record in the hellos (opcode, size
// byte, buddy IP and port, code): the frame lengths are m + 12 and m + 11.
constexpr int kHelloExtra = 12;
constexpr int kHelloAnswerExtra = 11;
// Bytes kept of received texts.
constexpr unsigned kMessageTextKept = 200;
constexpr unsigned kDirectoryNameKept = 200;
constexpr unsigned kFileNameKept = 300;
