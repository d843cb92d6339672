#include "downloads/source_link.h"

#include <cstring>

#include "core/meta/user_meta.h"
#include "core/net/ip_text.h"
#include "v4ada/containers/unique_id.h"

namespace {

constexpr const char* kLocationScheme = "bcp";
constexpr int kMaxFields = 3;
// Longest field: 32 hex digits.
constexpr size_t kFieldMax = 32;

// A decimal port 1 to 65535, digits only.
bool parsePort(const char* text, uint16_t* port) {
    size_t length = std::strlen(text);
    if (length == 0 || length > 5) return false;
    uint32_t value = 0;
    for (size_t i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    }
    if (value == 0 || value > 65535) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

bool parseAddress(const char* text, uint32_t* ip) {
    *ip = ipFromText(text);
    // A trailing line feed is no part of a link.
    return *ip != 0 && std::strchr(text, '\n') == nullptr;
}

// Splits at single ':' into at most kMaxFields non-empty fields; the
// number of fields, or 0 when the text has more, an empty one or one too
// long.
int splitFields(const char* text, char fields[kMaxFields][kFieldMax + 1]) {
    int count = 0;
    const char* at = text;
    for (;;) {
        const char* colon = std::strchr(at, ':');
        size_t length = colon ? static_cast<size_t>(colon - at) : std::strlen(at);
        if (length == 0 || length > kFieldMax || count == kMaxFields) return 0;
        std::memcpy(fields[count], at, length);
        fields[count][length] = '\0';
        count++;
        if (!colon) return count;
        at = colon + 1;
    }
}

}  // namespace

int matchScheme(const char* scheme, const char* text) {
    if (scheme == nullptr || text == nullptr) return 0;
    size_t length = std::strlen(scheme);
    if (std::strncmp(scheme, text, length) != 0 || text[length] != ':') return 0;
    return static_cast<int>(length) + 2;
}

bool parseSourceLinkText(const char* text, UserMeta& user) {
    if (text == nullptr || ::strnlen(text, kSourceLinkMax + 1) > static_cast<size_t>(kSourceLinkMax)) return false;
    const char* rest = text;
    bool located = matchScheme(kLocationScheme, text) != 0;
    if (located) {
        if (std::strncmp(text, "bcp://", 6) != 0) return false;
        rest = text + 6;
    }
    char fields[kMaxFields][kFieldMax + 1];
    int count = splitFields(rest, fields);
    uint32_t ip = 0;
    uint16_t port = 0;
    if (count == 2) {
        if (!parseAddress(fields[0], &ip) || !parsePort(fields[1], &port)) return false;
        UserMeta made;
        made.setIp(ip);
        made.setPort(port);
        user = made;
        return true;
    }
    if (count == 3 && located) {
        UniqueID hash;
        if (!hash.fromHex(fields[0]) || !parseAddress(fields[1], &ip) || !parsePort(fields[2], &port)) return false;
        UserMeta made;
        made.setUserHash(hash);
        made.setBuddyIp(ip);
        made.setBuddyPort(port);
        user = made;
        return true;
    }
    return false;
}
