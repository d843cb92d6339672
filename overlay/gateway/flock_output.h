// The overlay's texts to the user and the log, through the active output
// gateway (currentUI); without one they are dropped. Formats are those of
// the library's printf engine; texts from peers go in as "%s" arguments.
#pragma once

#include "v4ada/string/owned_string.h"

// A whole line.
void flock_print(const char* format, ...);
// Unchanged text, no newline added.
void flock_print_raw(const char* format, ...);
// Unchanged text, then standard output is flushed.
void flock_print_flush(const char* format, ...);
// Unchanged text, shown only while the gateway is verbose.
void flock_debug(const char* format, ...);
// A log-file line.
void flock_log(const char* format, ...);

// The skin's text for the key, or the built-in text when the skin has none
// (or no string table is loaded).
OwnedString flock_text(const char* key, const char* builtin);
