#include "transfer/media/duration_text.h"

#include <cstdio>

std::string media_duration_text(uint64_t seconds) {
    char text[48];
    unsigned long long s = seconds;
    if (s < 3600)
        std::snprintf(text, sizeof text, "%02llu:%02llu", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu", s / 3600, s / 60 % 60, s % 60);
    return text;
}
