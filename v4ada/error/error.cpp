#include "v4ada/error/error.h"

#include <atomic>
#include <cstdarg>

#include "v4ada/file/debug_file.h"
#include "v4ada/file/file.h"
#include "v4ada/string/cstring.h"

namespace {

// The location of the last report, one pair per thread.
thread_local const char* t_errorFile = nullptr;
thread_local int t_errorLine = 0;

i4_error_handler g_errorHandler = default_error_handler;
// Replaceable while other threads warn.
std::atomic<i4_error_handler> g_warningHandler{default_warning_handler};
i4_console_hook g_consoleHook = console_print_hook;

}  // namespace

void record_error_location(const char* file, int line) {
    t_errorFile = file;
    t_errorLine = line;
}

void last_error_location(const char** file, int* line) {
    if (file) *file = t_errorFile;
    if (line) *line = t_errorLine;
}

i4_reporter error_at(const char* file, int line) {
    if (file) record_error_location(file, line);
    return report_error;
}

void report_error(const char* format, ...) {
    char message[kErrorMessageBuffer];
    va_list args;
    va_start(args, format);
    i4_vsnprintf(message, sizeof message, format, args);
    va_end(args);
    g_errorHandler(message);
    // A handler must not return to the reporting site: the site cannot go
    // on safely. Should a replaced one return, raise the error anyway.
    throw i4_err(OwnedString(message));
}

i4_reporter warning_at(const char* file, int line) {
    if (file) record_error_location(file, line);
    return report_warning;
}

void report_warning(const char* format, ...) {
    char message[kErrorMessageBuffer];
    va_list args;
    va_start(args, format);
    i4_vsnprintf(message, sizeof message, format, args);
    va_end(args);
    g_warningHandler.load()(message);
}

void set_error_handler(i4_error_handler handler) {
    g_errorHandler = handler ? handler : default_error_handler;
}

void set_warning_handler(i4_error_handler handler) {
    g_warningHandler.store(handler ? handler : default_warning_handler);
}

i4_error_handler get_warning_handler() { return g_warningHandler.load(); }

void default_error_handler(const char* message) { throw i4_err(OwnedString(message)); }

void default_warning_handler(const char* message) {
    const char* file;
    int line;
    last_error_location(&file, &line);
    if (file)
        debug_printf("Warning (%s:%d) : %s\n", file, line, message);
    else
        debug_printf("Warning %s\n", message);
}

void debug_printf(const char* format, ...) {
    i4_file* out = debug_output();
    if (!out) return;
    // Format first, then one write, so concurrent lines do not mix byte by byte.
    OwnedString text;
    va_list args;
    va_start(args, format);
    text.vformat(format, args);
    va_end(args);
    out->write(text.c_str(), text.length());
}

void set_console_print_hook(i4_console_hook hook) { g_consoleHook = hook ? hook : console_print_hook; }

void console_print_hook(const OwnedString& text) { debug_printf("%S", &text); }

void console_printf(const char* format, ...) {
    OwnedString text;
    va_list args;
    va_start(args, format);
    text.vformat(format, args);
    va_end(args);
    g_consoleHook(text);
}
