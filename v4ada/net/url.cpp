#include "v4ada/net/url.h"

#include <cstring>

bool split_url(const char* url, OwnedString* scheme, OwnedString* host, OwnedString* path, OwnedString* rest,
               int* port) {
    if (url == nullptr) return false;
    const char* colon = std::strchr(url, ':');
    if (colon == nullptr || colon[1] == 0) return false;
    if (colon[1] != '/' || colon[2] != '/') return false;
    const char* hostStart = colon + 3;
    const char* hostEnd = hostStart;
    while (*hostEnd != 0 && *hostEnd != ':' && *hostEnd != '/') hostEnd++;
    const char* slash = hostEnd;
    int portValue = -1;
    if (*hostEnd == ':') {
        const char* digit = hostEnd + 1;
        int value = 0;
        int digits = 0;
        while (*digit >= '0' && *digit <= '9') {
            value = value * 10 + (*digit - '0');
            if (value > 65535) return false;
            digit++;
            digits++;
        }
        if (digits == 0) return false;
        portValue = value;
        slash = digit;
    }
    if (*slash != '/') return false;
    *scheme = OwnedString(url, static_cast<int>(colon - url));
    *host = OwnedString(hostStart, static_cast<int>(hostEnd - hostStart));
    *path = OwnedString(slash);
    *rest = OwnedString(slash + 1);
    if (portValue >= 0) *port = portValue;
    return true;
}
