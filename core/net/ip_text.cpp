#include "core/net/ip_text.h"

#include <cstring>

#include "v4ada/file/ram_file.h"
#include "v4ada/net/address.h"

uint32_t ipFromBytes(const uint8_t bytes[4]) {
    uint32_t ip;
    std::memcpy(&ip, bytes, 4);
    return ip;
}

void ipToBytes(uint32_t ip, uint8_t bytes[4]) { std::memcpy(bytes, &ip, 4); }

uint32_t addressToIp(const i4_address* address) {
    if (address == nullptr) return 0;
    uint8_t bytes[4] = {0, 0, 0, 0};
    i4_ram_file_class file(bytes, 4, 0);
    address->writeIp(&file);
    return ipFromBytes(bytes);
}

const char* ipToText(uint32_t ip, OwnedString& out) {
    uint8_t b[4];
    ipToBytes(ip, b);
    out.format("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return out.c_str();
}

const char* addressToText(const i4_address* address, OwnedString& out) {
    return ipToText(addressToIp(address), out);
}

uint32_t ipFromText(const char* text) {
    if (text == nullptr) return 0;
    uint8_t bytes[4];
    const char* p = text;
    for (int i = 0; i < 4; i++) {
        if (i > 0) {
            if (*p != '.') return 0;
            p++;
        }
        if (*p < '0' || *p > '9') return 0;
        int value = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + (*p - '0');
            if (++digits > 3 || value > 255) return 0;
            p++;
        }
        bytes[i] = static_cast<uint8_t>(value);
    }
    if (*p == '\n') p++;
    if (*p != '\0') return 0;
    return ipFromBytes(bytes);
}
