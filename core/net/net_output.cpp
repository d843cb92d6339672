#include "core/net/net_output.h"

#include <cstdarg>
#include <cstdio>

#include "v4ada/string/owned_string.h"

void net_print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    OwnedString text;
    text.vformat(format, args);
    va_end(args);
    std::fprintf(stdout, "%s\n", text.c_str() ? text.c_str() : "");
}

void net_print_raw(const char* format, ...) {
    va_list args;
    va_start(args, format);
    OwnedString text;
    text.vformat(format, args);
    va_end(args);
    std::fputs(text.c_str() ? text.c_str() : "", stdout);
}

void net_log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    OwnedString text;
    text.vformat(format, args);
    va_end(args);
    std::fprintf(stderr, "%s\n", text.c_str() ? text.c_str() : "");
}
