// Error and warning reporting of the base library.
//
// Every fault is raised as one expression:
//     error_at(__FILE__, __LINE__)("format %d", value);
// error_at records the calling thread's location and returns the reporter,
// which formats (at most 499 characters) with the library's printf engine
// and hands the text to the current error handler. The default handler
// throws i4_err, which readers of untrusted input catch to fail a record.
#pragma once

#include "v4ada/string/owned_string.h"

class i4_err {
public:
    explicit i4_err(const OwnedString& message) : message_(message) {}
    i4_err(const i4_err& other) = default;
    i4_err& operator=(const i4_err& other) = default;
    const char* message() const { return message_.c_str() ? message_.c_str() : ""; }

private:
    OwnedString message_;
};

// Largest message a reporter produces, terminator included.
constexpr int kErrorMessageBuffer = 500;

using i4_error_handler = void (*)(const char* message);
using i4_reporter = void (*)(const char* format, ...);
using i4_console_hook = void (*)(const OwnedString& text);

// Records the location (unless file is null) and returns report_error.
i4_reporter error_at(const char* file, int line);
[[noreturn]] void report_error(const char* format, ...);
i4_reporter warning_at(const char* file, int line);
void report_warning(const char* format, ...);

void set_error_handler(i4_error_handler handler);
// The warning reporter calls the current warning handler; null puts the
// default back.
void set_warning_handler(i4_error_handler handler);
i4_error_handler get_warning_handler();
void default_error_handler(const char* message);
void default_warning_handler(const char* message);

void record_error_location(const char* file, int line);
// The calling thread's last recorded location: null and 0 when none.
void last_error_location(const char** file, int* line);

// Prints on the process-wide debug output (standard error); nothing when
// no debug output is installed.
void debug_printf(const char* format, ...);

void set_console_print_hook(i4_console_hook hook);
void console_print_hook(const OwnedString& text);
void console_printf(const char* format, ...);

// Module names the reporting sites record as their location.
namespace i4_module {
constexpr const char* kFile = "../../v4ada/file/file.cpp";
constexpr const char* kMalloc = "../../v4ada/memory/malloc4.cpp";
constexpr const char* kMemory = "../../v4ada/memory/memory.cpp";
constexpr const char* kString = "../../v4ada/string/string.cpp";
constexpr const char* kThreads = "../../v4ada/threads/linux/linux_threads.cpp";
}  // namespace i4_module
