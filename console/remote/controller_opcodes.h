// The controller protocol's opcodes. Every packet both ways is a TCP frame
// (core/net/tcp_frame.h); all integers are little-endian. Notation: u8,
// u16, u32 unsigned integers; f32 an IEEE single; string a u16 length and
// that many bytes, no terminator; hash 16 raw bytes; id a u32 handle that
// names one live download or upload slot (handle_table.h).
#pragma once

#include <cstdint>

// Controller to client. The first frame must be the login.
enum ControllerOpcode : uint8_t {
    IGUI_LOGIN = 100,                // string name | string password
    IGUI_SHUTDOWN = 101,             // (none)
    IGUI_COMMAND = 102,              // string console line
    IGUI_SEARCH = 202,               // search tree (SearchNode wire form)
    IGUI_QUERY_203 = 203,            // (none)
    IGUI_QUERY_204 = 204,            // (none)
    IGUI_QUERY_205 = 205,            // search tree
    IGUI_QUERY_206 = 206,            // (none)
    IGUI_DOWNLOAD_RESULT = 207,      // hash
    IGUI_PAUSE = 208,                // hash
    IGUI_RESUME = 209,               // hash
    IGUI_CANCEL = 210,               // hash
    IGUI_PRIORITY = 211,             // hash | u8 level
    IGUI_IGNORED_212 = 212,          // (nothing read)
    IGUI_IGNORED_214 = 214,          // (nothing read)
    IGUI_GET_SHARED_DIRS = 215,      // (none)
    IGUI_COUNT_ONLY = 216,           // u16 count
    IGUI_DOWNLOAD_STATUS_ON = 217,   // (none)
    IGUI_DOWNLOAD_STATUS_OFF = 218,  // (none)
    IGUI_UPLOAD_STATUS_ON = 219,     // (none)
    IGUI_UPLOAD_STATUS_OFF = 220,    // (none)
    IGUI_GET_SHARED_FILES = 224,     // (none)
    IGUI_GET_STATUS = 225,           // (none)
    IGUI_DOWNLOAD = 226,             // FileMeta wire form
    IGUI_GET_PART_MAP = 227,         // hash
    IGUI_GET_DISK_INFO = 228,        // (none)
    IGUI_SHARE_PRIORITY = 229,       // hash | u8 level
};

// Client to controller.
enum ControllerReply : uint8_t {
    IGUI_FRIENDS_CHANGED = 171,      // (none)
    IGUI_SHARED_DIRS = 172,          // u16 n | n x string path
    IGUI_SHARED_FILES = 173,         // u32 n | n x FileMeta wire form
    IGUI_PART_MAP = 174,             // u32 id | u16 n | n x (u32 start, u32 end, u16 weight)
    IGUI_DISK_INFO = 175,            // f32 | f32 | u32 0 | u32 IPv4 | u16 | u16 (20 bytes)
    IGUI_CONSOLE_TEXT = 180,         // string
    IGUI_ERROR_TEXT = 181,           // string
    IGUI_SEARCH_RESULT = 186,        // Service wire form
    IGUI_DOWNLOAD_ADDED = 188,       // FileMeta wire form | u8 priority | string path | u32 id
    IGUI_DOWNLOAD_REMOVED = 189,     // hash
    IGUI_UPLOAD_SLOT_REMOVED = 193,  // u32 id
    IGUI_STATUS_TEXT = 195,          // string
    IGUI_DOWNLOAD_STATUS = 197,      // u16 n | n x 15-byte entry
    IGUI_CLIENT_STATUS = 199,        // see controller_frames.h
    IGUI_UPLOAD_STATUS = 200,        // u16 n | n x (u32 id, f32 speed)
    IGUI_UPLOAD_SLOT = 201,          // u32 id | string name | UserMeta wire form | hash
};
