// The codes of the message bus. Codes not listed are neither registered
// nor posted.
#pragma once

#include <cstdint>

// Handler tables have one entry per code 0 to kMessageCodeCount - 1.
constexpr int kMessageCodeCount = 256;

enum MessageCode : int32_t {
    MSG_LOAD_STATE = 0,         // none: start-up loads
    MSG_SAVE_STATE = 1,         // none: the matching savers
    MSG_SEARCH = 5,             // ServiceSearch*, taken over by the search
    MSG_CTL_QUERY_205 = 6,      // controller's Search, one reference added
    MSG_SEARCH_VIA_NODE = 7,    // {ServiceSearch*, node} record or null; handler deletes
    MSG_CTL_QUERY_203 = 8,      // controller's Search, one reference added
    MSG_CTL_QUERY_206 = 9,      // controller's Search, one reference added
    MSG_START_DOWNLOAD = 10,    // FileMeta*, handler deletes
    MSG_END_DOWNLOAD = 11,      // Download*, not freed
    MSG_PAUSE_DOWNLOAD = 12,    // Download* with a reference of the poster's, released by the handler
    MSG_RESUME_DOWNLOAD = 13,   // Download* with a reference of the poster's, released by the handler
    MSG_CANCEL_DOWNLOAD = 14,   // Download* with a reference of the poster's, released by the handler
    MSG_REFRESH_SHARES = 16,    // none
    MSG_SHARES_UPDATED = 17,    // none
    MSG_ADD_SHARED_FILE = 18,   // FileMeta*, taken over by the transfer hub
    MSG_ADD_SHARED_FILES = 19,  // SharedFileBatch* (records in order), taken over by the transfer hub
    MSG_RESERVED_20 = 20,       // none
    MSG_SHARED_FILE_UPDATE = 21,  // SharedFileUpdate* (removed or finally placed), handler deletes
    MSG_PRIVATE_MESSAGE = 22,   // UserMeta*, handler deletes
    MSG_CHECK_DISK_SPACE = 23,  // none
    MSG_OPEN_SLOT = 24,         // TCPConnection*, not freed
    MSG_RELOAD_FILTERS = 25,    // none
    MSG_COMMAND_LINE = 27,      // OwnedString*, handler deletes
    MSG_SET_PROXY = 28,         // ProxySettings*, handler deletes
    MSG_LOAD_PARTIALS = 29,     // OwnedString* directory, handler deletes
    MSG_RETEST_FIREWALL = 30,   // none
    MSG_BOOT = 31,              // Meta* with "ipStr" and "port", handler deletes
    MSG_ADD_SOURCE = 32,        // AddSourceRecord* {UserMeta, file hash}, handler deletes
    MSG_ADD_SOURCE_LINK = 33,   // SourceLinkRecord* {OwnedString link, file hash}, handler deletes
    MSG_RESCHEDULE = 34,        // none
    MSG_CONNECT_FAILED = 35,    // {u32 IP, u16 port} record, handler deletes
};
