#include "overlay/index/location_link.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/net/ip_text.h"
#include "v4ada/memory/malloc4.h"

namespace {

constexpr int kFieldsRead = 3;

bool readPort(const std::string& text, int* port) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    // Read as a decimal number from its start, as links always were.
    if (end == text.c_str() || value < 1 || value > 65535) return false;
    *port = static_cast<int>(value);
    return true;
}

}  // namespace

OwnedString openLocationLink(uint32_t ip, int port) {
    OwnedString address;
    OwnedString link;
    link.format("bcp://%s:%d", ipToText(ip, address), port);
    return link;
}

OwnedString buddyLocationLink(const UniqueID& id, uint32_t buddyIp, int buddyPort) {
    char* hex = id.toHex();
    OwnedString address;
    OwnedString link;
    link.format("bcp://%s:%s:%d", hex, ipToText(buddyIp, address), buddyPort);
    i4_free(hex);
    return link;
}

bool parseLocationLink(const char* text, LocationLink* out) {
    if (text == nullptr || out == nullptr || std::strlen(text) < kLinkSchemeLength) return false;
    std::vector<std::string> fields;
    std::string field;
    for (const char* c = text + kLinkSchemeLength;; c++) {
        if (*c == ':' || *c == 0) {
            if (!field.empty()) fields.push_back(field);
            field.clear();
            if (*c == 0 || static_cast<int>(fields.size()) == kFieldsRead) break;
        } else {
            field += *c;
        }
    }
    LocationLink link;
    if (fields.size() == 2) {
        link.ip = ipFromText(fields[0].c_str());
        if (link.ip == 0 || !readPort(fields[1], &link.port)) return false;
    } else if (fields.size() == 3) {
        link.buddyForm = true;
        if (!link.userId.fromHex(fields[0].c_str())) return false;
        link.ip = ipFromText(fields[1].c_str());
        if (link.ip == 0 || !readPort(fields[2], &link.port)) return false;
    } else {
        return false;
    }
    *out = link;
    return true;
}
